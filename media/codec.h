#ifndef CODEC_H
#define CODEC_H

// G.711 conversions between 16-bit linear samples and 8-bit code words.
// A-law is the working law; u-law is reached through the two code-conversion
// tables, which are kept as published (they are not a decode/re-encode rule).

extern const short seg_end[8];
extern const unsigned char alaw_to_ulaw_table[256];
extern const unsigned char ulaw_to_alaw_table[256];

unsigned char linear2alaw(int pcm_val);
int alaw2linear(unsigned char a_val);
unsigned char alaw_to_ulaw(unsigned char aval);
unsigned char ulaw_to_alaw(unsigned char uval);

// Whole-frame forms for the RTP path: the same results as the per-sample
// functions above, with the decoders read from precomputed tables. `pcm` is
// 16-bit little-endian, two bytes per sample.
void alawEncodeFrame(const unsigned char *pcm, unsigned char *out, int samples);
void ulawEncodeFrame(const unsigned char *pcm, unsigned char *out, int samples);
void alawDecodeFrame(const unsigned char *in, unsigned char *pcm, int samples);
void ulawDecodeFrame(const unsigned char *in, unsigned char *pcm, int samples);

#endif // CODEC_H
