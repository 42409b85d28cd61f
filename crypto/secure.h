#pragma once
// Wiping secrets and comparing MACs without leaking where they differ.

#include <cstddef>

// Overwrites n bytes with zeros; never optimised away.
void SecureWipe(void* p, size_t n);

// True when the n bytes are equal; the time taken does not depend on where they differ.
bool ConstantTimeEqual(const void* a, const void* b, size_t n);
