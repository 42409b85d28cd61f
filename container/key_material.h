#pragma once
// The writer's random values, made the same way by every front end that writes
// containers: each 16 bytes are the first half of a SHA-256 digest over 256 requests of
// 32 random bytes, so a weak request is diluted by the others.

#include <cstdint>
#include <string>

class RandomSource;

// The bulk IV (16 bytes) followed by the bulk key (32 bytes). Throws
// SystemErrorException (NoRandomBytes, no path) when the source fails.
void MakeBulkIvAndKey(RandomSource& random, uint8_t out[48]);

// The file IV: a digest over the calendar time in seconds and the plaintext's size (each
// 64-bit little-endian), the plaintext's path as given, then 256 random requests. Throws
// as MakeBulkIvAndKey does.
void MakeFileIv(RandomSource& random, uint64_t time, uint64_t size, const std::string& path, uint8_t out[16]);
