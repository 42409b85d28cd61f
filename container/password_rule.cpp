#include "container/password_rule.h"

#include <algorithm>

#include "container/naming.h"
#include "crypto/secure.h"
#include "platform/catalog.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace {

void Wipe(std::string& bytes) {
  if (!bytes.empty()) SecureWipe(&bytes[0], bytes.size());
}

// The form's first characters that fit in limit bytes.
std::string Cut(const TextForm& form, size_t limit) {
  return form.Bytes().substr(0, form.BytesOf(form.CharactersWithin(limit)));
}

const char kLimitHint[] = N_("암호는 앞의 11바이트만 쓰입니다.");
const char kCutHint[] = N_("입력한 %u글자 가운데 앞의 %u글자만 쓰입니다.");
const char kLackingHint[] = N_("입력한 글자 가운데 암호에 쓸 수 없는 것이 있습니다.");
const char kRefusal[] = N_(
    "암호에 쓸 수 없는 글자가 있습니다: %s (한국어 Windows 에서 입력할 수 있는 글자만 암호가 됩니다). "
    "아무것도 쓰지 않았습니다.");

}  // namespace

PasswordCandidates::~PasswordCandidates() {
  for (std::string& item : m_items) Wipe(item);
}

PasswordCandidates& PasswordCandidates::operator=(PasswordCandidates&& other) noexcept {
  for (std::string& item : m_items) Wipe(item);
  m_items = std::move(other.m_items);
  other.m_items.clear();
  return *this;
}

void PasswordCandidates::Add(const char* bytes, size_t length) {
  for (const std::string& item : m_items)
    if (item.size() == length && std::equal(item.begin(), item.end(), bytes)) return;
  m_items.emplace_back(bytes, length);
}

size_t PasswordCandidates::LongestBytes() const {
  size_t longest = 0;
  for (const std::string& item : m_items) longest = std::max(longest, item.size());
  return longest;
}

PasswordCandidates OpeningCandidates(const std::string& typed, TypedLength length) {
  PasswordCandidates candidates;
  if (typed.empty()) return candidates;
  TextForm system, cp949, utf8;
  const bool hasSystem = SystemAnsiForm(typed, &system);
  const bool hasCp949 = Cp949Form(typed, &cp949);
  const bool hasUtf8 = Utf8Form(typed, &utf8);
  // Where the system has no code page of its own, a Korean Windows system's form leads.
  const TextForm* forms[] = {hasSystem ? &system : hasCp949 ? &cp949 : hasUtf8 ? &utf8 : nullptr,
                             hasCp949 ? &cp949 : nullptr, hasUtf8 ? &utf8 : nullptr};
  for (const TextForm* form : forms) {
    if (!form) continue;
    std::string cut = Cut(*form, kPromptPasswordBytes);
    if (!cut.empty()) candidates.Add(cut);
    Wipe(cut);
  }
  if (length == TypedLength::AlsoWhole)
    for (const TextForm* form : forms)
      if (form) candidates.Add(form->Bytes());
  return candidates;
}

PasswordCandidates GivenPasswordCandidates(const std::string& bytes) {
  PasswordCandidates candidates;
  candidates.Add(bytes);
  TextForm utf8;
  if (Utf8Form(bytes, &utf8)) {
    const PasswordCandidates typed = OpeningCandidates(bytes);
    for (size_t i = 0; i < typed.Count(); ++i) candidates.Add(typed[i]);
  }
  return candidates;
}

PasswordCandidates CandidatesForContainer(const std::string& path, const PasswordCandidates& passwords) {
  PasswordCandidates candidates;
  if (HasCategoryExtension(path)) candidates.Add("", 0);
  for (size_t i = 0; i < passwords.Count(); ++i) candidates.Add(passwords[i]);
  return candidates;
}

NewPassword::~NewPassword() { Wipe(bytes); }

NewPassword MakingPassword(const std::string& typed, size_t limit) {
  NewPassword made;
  TextForm utf8;
  if (!Utf8Form(typed, &utf8)) return made;
  made.typedCharacters = utf8.Characters();
  TextForm system, cp949;
  std::string systemLacking, cp949Lacking;
  const TextForm* form = nullptr;
  if (SystemAnsiForm(typed, &system, &systemLacking) && systemLacking.empty())
    form = &system;
  else if (Cp949Form(typed, &cp949, &cp949Lacking))
    form = &cp949;
  if (!form) {
    made.lacking = cp949Lacking;
    return made;
  }
  made.accepted = true;
  made.wholeBytes = form->Bytes().size();
  made.keptCharacters = form->CharactersWithin(limit);
  made.bytes = form->Bytes().substr(0, form->BytesOf(made.keptCharacters));
  return made;
}

std::string NewPasswordRefusal(const NewPassword& made) { return Format(Tr(kRefusal), made.lacking.c_str()); }

std::string NewPasswordHint(const std::string& typed) {
  const NewPassword made = MakingPassword(typed, kPromptPasswordBytes);
  if (!typed.empty() && !made.accepted) return Tr(kLackingHint);
  if (made.keptCharacters < made.typedCharacters)
    return Format(Tr(kCutHint), static_cast<unsigned>(made.typedCharacters), static_cast<unsigned>(made.keptCharacters));
  return Tr(kLimitHint);
}

std::string OpeningPasswordHint(const std::string& typed) {
  TextForm system, cp949, utf8;
  const TextForm* first = SystemAnsiForm(typed, &system) ? &system
                          : Cp949Form(typed, &cp949)     ? &cp949
                          : Utf8Form(typed, &utf8)       ? &utf8
                                                         : nullptr;
  if (first) {
    const size_t kept = first->CharactersWithin(kPromptPasswordBytes);
    if (kept < first->Characters())
      return Format(Tr(kCutHint), static_cast<unsigned>(first->Characters()), static_cast<unsigned>(kept));
  }
  return Tr(kLimitHint);
}
