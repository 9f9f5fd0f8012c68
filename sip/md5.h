#ifndef MD5_H
#define MD5_H

// MD5 message digest (RFC 1321), used for SIP digest authentication (RFC 2617).

#include <QtGlobal>
#include <cstddef>

struct MD5Context
{
    quint32 state[4];
    quint64 bitCount;
    unsigned char buffer[64];
};

void MD5Init(MD5Context *context);
void MD5Update(MD5Context *context, const unsigned char *input, size_t length);
void MD5Final(MD5Context *context, unsigned char digest[16]);
void Transform(quint32 state[4], const unsigned char block[64]);
void ByteToDWord(quint32 *output, const unsigned char *input, size_t length);
void DWordToByte(unsigned char *output, const quint32 *input, size_t length);

// Digest of the zero-terminated `input` as 32 lower-case hex digits plus a
// terminating zero; `output` must hold at least 33 bytes.
void MD5(char *input, char *output);

#endif // MD5_H
