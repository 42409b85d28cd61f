#include "platform/random.h"

#include <windows.h>
#include <wincrypt.h>

bool SystemRandomSource::Acquire() {
  if (m_acquired) return true;
  HCRYPTPROV provider = 0;
  BOOL ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
  if (!ok && GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET)) {
    ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET);
  }
  if (!ok) return false;
  m_hProvider = static_cast<uintptr_t>(provider);
  m_acquired = true;
  return true;
}

bool SystemRandomSource::Fill(uint8_t* out, size_t count) {
  if (!m_acquired || count > 0xFFFFFFFFu) return false;
  return CryptGenRandom(static_cast<HCRYPTPROV>(m_hProvider), static_cast<DWORD>(count), out) !=
         FALSE;
}

void SystemRandomSource::Release() {
  if (!m_acquired) return;
  CryptReleaseContext(static_cast<HCRYPTPROV>(m_hProvider), 0);
  m_hProvider = 0;
  m_acquired = false;
}
