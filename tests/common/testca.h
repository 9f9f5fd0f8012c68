#pragma once

// A certificate authority made per run with the openssl tool, and server
// certificates it signs for 127.0.0.2 (by name and by address), current or
// already expired. Files live in a private directory.

#include "peerprocess.h"

class TestCa : public PeerProcess
{
public:
    TestCa() : PeerProcess(QStringLiteral("openssl")) {}
    // Creates the CA; false when openssl fails.
    bool create()
    {
        const QString config = QStringLiteral("[ca]\ndefault_ca=d\n[d]\ndatabase=%1\nnew_certs_dir=%2\nserial=%3\n"
                                              "default_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncommonName=supplied\n")
                                   .arg(path("ca.index"), m_dir.path(), path("ca.serial"));
        return writeFile("ca.cnf", config.toUtf8()) && writeFile("ca.index") && writeFile("ca.serial", "01\n")
            && runTool(m_program, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                                   path("ca.key"), "-out", path("ca.pem"), "-days", "30", "-subj", "/CN=Sorvanto test ca"});
    }
    QString caFile() const { return path(QStringLiteral("ca.pem")); }
    using PeerProcess::path;

    // Signs a key for 127.0.0.2 as `<id>.pem` with `<id>.key`; `expired`
    // dates it in 2020. Returns the certificate's path, empty on failure.
    QString issue(const QString &id, bool expired = false)
    {
        const QStringList dates = expired ? QStringList{"-startdate", "20200101000000Z", "-enddate", "20200201000000Z"}
                                          : QStringList{"-days", "30"};
        const bool ok = writeFile(id + ".ext", "subjectAltName=DNS:127.0.0.2,IP:127.0.0.2\nbasicConstraints=CA:FALSE\n"
                                           "extendedKeyUsage=serverAuth\n")
            && runTool(m_program, {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                                   path(id + ".key"), "-out", path(id + ".csr"), "-subj", "/CN=127.0.0.2"})
            && runTool(m_program, QStringList{"ca", "-batch", "-notext", "-config", path("ca.cnf"), "-cert", path("ca.pem"),
                                              "-keyfile", path("ca.key"), "-in", path(id + ".csr"), "-out", path(id + ".pem"),
                                              "-extfile", path(id + ".ext")} + dates);
        return ok ? path(id + ".pem") : QString();
    }
};
