#include "sipdigest.h"

#include <QCryptographicHash>

namespace {

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString ha1(const QString &username, const QString &realm, const QString &password)
{
    return md5Hex(username + ':' + realm + ':' + password);
}

} // namespace

QString digestResponse(const QString &method, const QString &username, const QString &password,
                       const QString &realm, const QString &uri, const QString &nonce)
{
    return md5Hex(ha1(username, realm, password) + ':' + nonce + ':' + md5Hex(method + ':' + uri));
}

QString digestResponseAuth(const QString &method, const QString &username, const QString &password,
                           const QString &realm, const QString &uri, const QString &nonce, const QString &cnonce,
                           const QString &nc, const QString &qop)
{
    return md5Hex(ha1(username, realm, password) + ':' + nonce + ':' + nc + ':' + cnonce + ':' + qop + ':'
                  + md5Hex(method + ':' + uri));
}
