#include "md5.h"

#include <cstring>

namespace {

inline quint32 rotateLeft(quint32 x, int n) { return (x << n) | (x >> (32 - n)); }

inline quint32 F(quint32 x, quint32 y, quint32 z) { return (x & y) | (~x & z); }
inline quint32 G(quint32 x, quint32 y, quint32 z) { return (x & z) | (y & ~z); }
inline quint32 H(quint32 x, quint32 y, quint32 z) { return x ^ y ^ z; }
inline quint32 I(quint32 x, quint32 y, quint32 z) { return y ^ (x | ~z); }

// Per-round shift amounts and sine-derived constants of RFC 1321, section 3.4.
const int shifts[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21 };

const quint32 sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391 };

} // namespace

void ByteToDWord(quint32 *output, const unsigned char *input, size_t length)
{
    // MD5 reads its words little-endian, whatever the host order.
    for (size_t i = 0, j = 0; j + 3 < length; ++i, j += 4)
        output[i] = quint32(input[j]) | (quint32(input[j + 1]) << 8) | (quint32(input[j + 2]) << 16)
                  | (quint32(input[j + 3]) << 24);
}

void DWordToByte(unsigned char *output, const quint32 *input, size_t length)
{
    for (size_t i = 0, j = 0; j + 3 < length; ++i, j += 4) {
        output[j] = input[i] & 0xff;
        output[j + 1] = (input[i] >> 8) & 0xff;
        output[j + 2] = (input[i] >> 16) & 0xff;
        output[j + 3] = (input[i] >> 24) & 0xff;
    }
}

void Transform(quint32 state[4], const unsigned char block[64])
{
    quint32 x[16];
    ByteToDWord(x, block, 64);
    quint32 a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        quint32 f;
        int k;
        if (i < 16) { f = F(b, c, d); k = i; }
        else if (i < 32) { f = G(b, c, d); k = (5 * i + 1) % 16; }
        else if (i < 48) { f = H(b, c, d); k = (3 * i + 5) % 16; }
        else { f = I(b, c, d); k = (7 * i) % 16; }
        const quint32 t = d;
        d = c;
        c = b;
        b = b + rotateLeft(a + f + sines[i] + x[k], shifts[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void MD5Init(MD5Context *context)
{
    context->bitCount = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    std::memset(context->buffer, 0, sizeof context->buffer);
}

void MD5Update(MD5Context *context, const unsigned char *input, size_t length)
{
    size_t index = size_t((context->bitCount >> 3) & 0x3f);
    context->bitCount += quint64(length) << 3;
    const size_t partLength = 64 - index;
    size_t i = 0;
    if (length >= partLength) {
        std::memcpy(context->buffer + index, input, partLength);
        Transform(context->state, context->buffer);
        for (i = partLength; i + 63 < length; i += 64)
            Transform(context->state, input + i);
        index = 0;
    }
    if (length > i)
        std::memcpy(context->buffer + index, input + i, length - i);
}

void MD5Final(MD5Context *context, unsigned char digest[16])
{
    static const unsigned char padding[64] = { 0x80 };
    unsigned char bits[8];
    const quint32 count[2] = { quint32(context->bitCount & 0xffffffffu), quint32(context->bitCount >> 32) };
    DWordToByte(bits, count, 8);
    const size_t index = size_t((context->bitCount >> 3) & 0x3f);
    const size_t padLength = index < 56 ? 56 - index : 120 - index;
    MD5Update(context, padding, padLength);
    MD5Update(context, bits, 8);
    DWordToByte(digest, context->state, 16);
    std::memset(context, 0, sizeof *context);
}

void MD5(char *input, char *output)
{
    static const char hex[] = "0123456789abcdef";
    MD5Context context;
    unsigned char digest[16];
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const unsigned char *>(input), std::strlen(input));
    MD5Final(&context, digest);
    for (int i = 0; i < 16; ++i) {
        output[2 * i] = hex[digest[i] >> 4];
        output[2 * i + 1] = hex[digest[i] & 0x0f];
    }
    output[32] = '\0';
}
