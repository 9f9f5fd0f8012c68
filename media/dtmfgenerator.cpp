#include "dtmfgenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const char kKeys[] = "123A456B789C*0#D";
const double kRows[] = {697, 770, 852, 941};
const double kColumns[] = {1209, 1336, 1477, 1633};

} // namespace

bool DtmfGenerator::queue(QChar key)
{
    const QChar k = key.toUpper();
    if (k.unicode() > 127 || k.isNull() || !std::strchr(kKeys, k.toLatin1()))
        return false;
    keys.append(k);
    return true;
}

void DtmfGenerator::clear()
{
    keys.clear();
    position = 0;
}

void DtmfGenerator::mix(unsigned char *pcm, int samples)
{
    for (int i = 0; i < samples && !keys.isEmpty(); ++i, ++position) {
        if (position >= toneSamples + pauseSamples) {
            keys.remove(0, 1);
            position = -1;
            --i;
            continue;
        }
        if (position >= toneSamples)
            continue;
        const int index = int(std::strchr(kKeys, keys.at(0).toLatin1()) - kKeys);
        const double t = double(position) / rate;
        const double tone = amplitude * (std::sin(2 * M_PI * kRows[index / 4] * t) + std::sin(2 * M_PI * kColumns[index % 4] * t));
        const int mixed = qint16(quint16(pcm[2 * i] | pcm[2 * i + 1] << 8)) + int(std::lround(tone));
        const qint16 s = qint16(std::max(-32768, std::min(32767, mixed)));
        pcm[2 * i] = static_cast<unsigned char>(s & 0xFF);
        pcm[2 * i + 1] = static_cast<unsigned char>((s >> 8) & 0xFF);
    }
}
