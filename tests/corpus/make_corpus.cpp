// Writes the malformed-container corpus: one container per scenario in DIR/containers,
// DIR/manifest.tsv (how each one must be decrypted and what that must give) and
// DIR/messages.tsv (the reader's message texts by failure name).
//
//   qv3_make_corpus DIR           write (or rewrite) the corpus
//   qv3_make_corpus --check DIR   compare DIR with what would be written
//
// Every container is built byte by byte (fixed IVs and keys, so the output never changes)
// and every expectation is stated here, from the format; before anything is written the
// expectations are checked against ContainerReader, and a disagreement stops the tool.
// The reader checks that no file's contents can reach (a size or read that fails) are
// not in the corpus.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "container/format.h"
#include "container/system_error_exception.h"
#include "crypto/sha256.h"
#include "tests/container/container_builder.h"

namespace fs = std::filesystem;
using testutil::BuildContainer;
using testutil::ContainerOffsets;
using testutil::ContainerRecipe;
using Bytes = std::vector<uint8_t>;

namespace {

const char* FailureName(FailureKind f) {
  switch (f) {
    case FailureKind::SizeUnknown: return "SizeUnknown";
    case FailureKind::TooSmall: return "TooSmall";
    case FailureKind::TooSmallV2: return "TooSmallV2";
    case FailureKind::HeadUnreadable: return "HeadUnreadable";
    case FailureKind::BadSignature: return "BadSignature";
    case FailureKind::BadVersion: return "BadVersion";
    case FailureKind::ExtensionLengthUnreadable: return "ExtensionLengthUnreadable";
    case FailureKind::ExtensionUnreadable: return "ExtensionUnreadable";
    case FailureKind::BadCipherLength: return "BadCipherLength";
    case FailureKind::Unreadable: return "Unreadable";
    case FailureKind::KeyBlockMac: return "KeyBlockMac";
    case FailureKind::BulkMacV0: return "BulkMacV0";
    case FailureKind::BulkMac: return "BulkMac";
    default: break;  // not the reader's
  }
  return "?";
}

const FailureKind kAllFailures[] = {
    FailureKind::SizeUnknown,   FailureKind::TooSmall,
    FailureKind::TooSmallV2,    FailureKind::HeadUnreadable,
    FailureKind::BadSignature,  FailureKind::BadVersion,
    FailureKind::ExtensionLengthUnreadable, FailureKind::ExtensionUnreadable,
    FailureKind::BadCipherLength, FailureKind::Unreadable,
    FailureKind::KeyBlockMac,   FailureKind::BulkMacV0,
    FailureKind::BulkMac,
};

// The passwords of the corpus. kAmhoCp949 is "암호" in code page 949 (what a Korean
// Windows system hashes), kAmhoUtf8 the same text in UTF-8.
const std::string kPassword = "password";
const std::string kAmhoCp949 = "\xBE\xCF\xC8\xA3";
const std::string kAmhoUtf8 = "암호";
const std::string kSecretCp949 = "\xBA\xF1\xB9\xD0 \xB9\xF8\xC8\xA3";  // "비밀 번호"
const std::string kSecretUtf8 = "비밀 번호";

struct Run {
  std::string passwordFile;  // the bytes of the password file
  bool cp949 = false;        // run with --password-encoding cp949
  std::string keyBytes;      // what the reader is given: the password as hashed
  bool ok = true;
  Bytes plaintext;           // when ok
  FailureKind failure = FailureKind::SizeUnknown;  // when not
};

struct Scenario {
  std::string name;  // file name in containers/, ends in ".aqv3"
  std::string description;
  Bytes bytes;
  std::vector<Run> runs;
};

Run Ok(Bytes plaintext, const std::string& password = kPassword) {
  Run r;
  r.passwordFile = r.keyBytes = password;
  r.plaintext = std::move(plaintext);
  return r;
}

Run Fails(FailureKind failure, const std::string& password = kPassword) {
  Run r;
  r.passwordFile = r.keyBytes = password;
  r.ok = false;
  r.failure = failure;
  return r;
}

// The same run with the password file holding utf8 and --password-encoding cp949.
Run Converted(Run r, const std::string& utf8) {
  r.passwordFile = utf8;
  r.cp949 = true;
  return r;
}

// Deterministic bytes that differ per seed.
Bytes Pattern(size_t n, uint32_t seed) {
  Bytes v(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return v;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

ContainerRecipe Recipe(int version, Bytes plaintext, const std::string& password = kPassword) {
  ContainerRecipe s;
  s.version = version;
  s.plaintext = std::move(plaintext);
  s.password = password;
  return s;
}

ContainerRecipe NoExtensions(Bytes plaintext) {
  ContainerRecipe s = Recipe(2, std::move(plaintext));
  s.extensions.clear();
  return s;
}

Bytes Build(const ContainerRecipe& recipe, ContainerOffsets* offsets = nullptr) {
  return BuildContainer(recipe, offsets);
}

Bytes Flip(Bytes b, size_t at, uint8_t mask = 0x01) {
  b.at(at) ^= mask;
  return b;
}

Bytes Set(Bytes b, size_t at, uint8_t value) {
  b.at(at) = value;
  return b;
}

Bytes Truncate(Bytes b, size_t count) {
  b.resize(b.size() - count);
  return b;
}

Bytes Append(Bytes b, size_t count, uint8_t value = 0x5A) {
  b.insert(b.end(), count, value);
  return b;
}

Bytes Erase(Bytes b, size_t at, size_t count) {
  b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + count));
  return b;
}

Bytes Insert(Bytes b, size_t at, const Bytes& what) {
  b.insert(b.begin() + static_cast<long>(at), what.begin(), what.end());
  return b;
}

// Sets the big-endian extension length at offset at.
Bytes SetLength(Bytes b, size_t at, unsigned length) {
  b.at(at) = static_cast<uint8_t>(length >> 8);
  b.at(at + 1) = static_cast<uint8_t>(length);
  return b;
}

// The plaintext a reader releases when the length byte's low bits are `last` instead of
// the true ones: the zero-padded blocks, the last one cut to `last` bytes (16 for 0).
Bytes Released(const Bytes& plaintext, unsigned last) {
  Bytes padded = plaintext;
  padded.resize((padded.size() + 15) / 16 * 16, 0);
  if (padded.empty()) return padded;
  padded.resize(padded.size() - 16 + (last ? last : 16));
  return padded;
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> all;
  auto add = [&all](std::string name, std::string description, Bytes bytes, std::vector<Run> runs) {
    all.push_back({std::move(name) + ".aqv3", std::move(description), std::move(bytes), std::move(runs)});
  };
  using F = FailureKind;
  const Bytes empty;
  const Bytes p17 = Pattern(17, 17), p40 = Pattern(40, 40), p100 = Pattern(100, 100);

  // --- Each version read whole, plaintext lengths around the block size -----------------
  // (Empty plaintexts of versions 0 and 1 are the size scenarios of 53 and 134 bytes.)
  for (size_t n : {1, 16, 17, 100}) {
    const Bytes p = Pattern(n, static_cast<uint32_t>(n) + 1000);
    add("ok-v0-" + std::to_string(n), "version 0, " + std::to_string(n) + "-byte plaintext",
        Build(Recipe(0, p)), {Ok(p)});
  }
  for (size_t n : {15, 16, 33}) {
    const Bytes p = Pattern(n, static_cast<uint32_t>(n) + 2000);
    add("ok-v1-" + std::to_string(n), "version 1, " + std::to_string(n) + "-byte plaintext",
        Build(Recipe(1, p)), {Ok(p)});
  }
  for (size_t n : {0, 16, 17, 100}) {
    const Bytes p = Pattern(n, static_cast<uint32_t>(n) + 3000);
    add("ok-v2-" + std::to_string(n),
        "version 2 as this system writes it, " + std::to_string(n) + "-byte plaintext",
        Build(Recipe(2, p)), {Ok(p)});
  }
  {
    const Bytes p = Pattern(4000, 4000);
    add("ok-v2-4000", "version 2, 4000-byte plaintext (250 blocks)", Build(Recipe(2, p)), {Ok(p)});
  }

  // --- Step 2 and 6: sizes ---------------------------------------------------------------
  {
    const Bytes v0 = Build(Recipe(0, empty));  // 53 bytes
    const Bytes v1 = Build(Recipe(1, empty));  // 134 bytes
    const Bytes v2 = Build(NoExtensions(empty));  // 136 bytes
    add("size-0", "an empty file", {}, {Fails(F::TooSmall)});
    add("size-3-aes", "only the signature", Text("AES"), {Fails(F::TooSmall)});
    add("size-52-v0", "a version 0 container with an empty ciphertext, less its last byte",
        Truncate(v0, 1), {Fails(F::TooSmall)});
    add("size-52-garbage", "52 bytes of 0xFF: too small and no signature; the size decides",
        Bytes(52, 0xFF), {Fails(F::TooSmall)});
    add("size-53-v0", "a version 0 container of exactly 53 bytes: empty and complete", v0,
        {Ok(empty)});
    add("size-53-v1", "the first 53 bytes of a version 1 container", Truncate(v1, v1.size() - 53),
        {Fails(F::TooSmall)});
    add("size-133-v1", "a version 1 container with an empty ciphertext, less its last byte",
        Truncate(v1, 1), {Fails(F::TooSmall)});
    add("size-134-v1", "a version 1 container of exactly 134 bytes", v1, {Ok(empty)});
    add("size-53-v2", "the first 53 bytes of a version 2 container",
        Truncate(v2, v2.size() - 53), {Fails(F::TooSmallV2)});
    add("size-135-v2", "a version 2 container without extensions and ciphertext, less its last byte",
        Truncate(v2, 1), {Fails(F::TooSmallV2)});
    add("size-136-v2", "a version 2 container of exactly 136 bytes (no extensions, empty)", v2,
        {Ok(empty)});
    add("size-133-v1-odd", "a version 1 container of 133 bytes: too small decides before the "
        "ciphertext length", Truncate(Build(Recipe(1, p17)), 166 - 133), {Fails(F::TooSmall)});
  }

  // --- Step 4: signature -----------------------------------------------------------------
  {
    const Bytes c = Build(Recipe(2, p17));
    add("sig-byte0", "first signature byte changed (\"BES\")", Set(c, 0, 'B'), {Fails(F::BadSignature)});
    add("sig-byte1", "second signature byte changed (\"AFS\")", Set(c, 1, 'F'), {Fails(F::BadSignature)});
    add("sig-byte2", "third signature byte changed (\"AEs\")", Set(c, 2, 's'), {Fails(F::BadSignature)});
    add("sig-lowercase", "signature in lower case", Set(Set(Set(c, 0, 'a'), 1, 'e'), 2, 's'),
        {Fails(F::BadSignature)});
    add("sig-zeros", "294 zero bytes", Bytes(294, 0), {Fails(F::BadSignature)});
    add("sig-and-version", "no signature and version 7: the signature decides",
        Set(Set(c, 0, 'X'), 3, 7), {Fails(F::BadSignature)});
    add("sig-and-odd-length", "no signature and a ciphertext length off by 3",
        Append(Set(c, 1, 0), 3), {Fails(F::BadSignature)});
  }

  // --- Step 5: version -------------------------------------------------------------------
  {
    const Bytes c = Build(Recipe(2, p17));
    add("version-3", "version byte 3 on a version 2 container", Set(c, 3, 3), {Fails(F::BadVersion)});
    add("version-128", "version byte 0x80", Set(c, 3, 0x80), {Fails(F::BadVersion)});
    add("version-255", "version byte 0xFF", Set(c, 3, 0xFF), {Fails(F::BadVersion)});
    add("version-3-small", "version 3 in 60 bytes: the version decides before any size of "
        "version 1 or 2", Set(Truncate(c, c.size() - 60), 3, 3), {Fails(F::BadVersion)});
    add("version-3-odd-length", "version 3 and a ciphertext length off by one",
        Append(Set(c, 3, 3), 1), {Fails(F::BadVersion)});
  }

  // --- Step 8: ciphertext length ---------------------------------------------------------
  {
    add("cipherlen-v0-54", "a version 0 container of 54 bytes", Append(Build(Recipe(0, empty)), 1),
        {Fails(F::BadCipherLength)});
    add("cipherlen-v0-plus1", "a version 0 container with one byte appended",
        Append(Build(Recipe(0, p40)), 1), {Fails(F::BadCipherLength)});
    add("cipherlen-v1-135", "a version 1 container of 135 bytes", Append(Build(Recipe(1, empty)), 1),
        {Fails(F::BadCipherLength)});
    add("cipherlen-v1-minus1", "a version 1 container less its last byte",
        Truncate(Build(Recipe(1, p40)), 1), {Fails(F::BadCipherLength)});
    add("cipherlen-v2-truncated-5", "a version 2 container truncated by 5 bytes",
        Truncate(Build(Recipe(2, p100)), 5), {Fails(F::BadCipherLength)});
    add("cipherlen-v2-plus15", "a version 2 container with 15 bytes appended",
        Append(Build(Recipe(2, p17)), 15), {Fails(F::BadCipherLength)});
    add("cipherlen-v2-wrong-password", "ciphertext length off by one and a wrong password: "
        "the length decides, before the key derivation",
        Append(Build(Recipe(2, p17)), 1), {Fails(F::BadCipherLength, "wrong")});
    add("cipherlen-v0-wrong-password", "version 0, ciphertext length off by one, wrong password",
        Truncate(Build(Recipe(0, p40)), 1), {Fails(F::BadCipherLength, "wrong")});
    // An extension whose length is one short: its last content byte (0) and the first
    // byte of the end mark are read as the end mark, and one byte too many is left.
    ContainerRecipe s = NoExtensions(p17);
    s.extensions = {Bytes{'x', 'y', 0}};
    add("cipherlen-v2-ext-short-by-one", "an extension length one short, its content ending "
        "in 0: read as the end mark, one byte too many remains",
        SetLength(Build(s), 5, 2), {Fails(F::BadCipherLength)});
    add("cipherlen-v2-as-v1", "a version 2 container without extensions labelled version 1: "
        "the end mark counts as ciphertext", Set(Build(NoExtensions(p17)), 3, 1),
        {Fails(F::BadCipherLength)});
    add("cipherlen-v2-as-v0", "a version 2 container labelled version 0", Set(Build(Recipe(2, p17)), 3, 0),
        {Fails(F::BadCipherLength)});
  }

  // --- Step 7: the extension section -----------------------------------------------------
  {
    const Bytes p = Pattern(33, 33);
    add("ext-none", "version 2 with no extensions (the end mark right after the head)",
        Build(NoExtensions(p)), {Ok(p)});
    ContainerRecipe s = NoExtensions(p);
    s.extensions = {ContainerRecipe::WrittenExtensions()[0]};
    add("ext-created-by-only", "only the CREATED_BY extension", Build(s), {Ok(p)});
    s.extensions = {Text(std::string("CREATED_BY\0SOMEONE ELSE 9.99", 28))};
    add("ext-created-by-other", "CREATED_BY naming another program: not examined", Build(s), {Ok(p)});
    s.extensions = {Bytes{7}, Bytes{0, 0}, Pattern(255, 1), Pattern(256, 2), Text("end")};
    add("ext-several", "five extensions of 1, 2, 255, 256 and 3 bytes", Build(s), {Ok(p)});
    s.extensions = {Bytes(65535, 0xA5)};
    add("ext-max", "one extension of 65535 bytes, the largest length", Build(s), {Ok(p)});
    s.extensions.assign(1000, Bytes{0x2A});
    add("ext-many", "1000 one-byte extensions", Build(s), {Ok(p)});
    s.extensions = {Bytes{0, 0, 0, 0}};
    add("ext-looks-like-end", "an extension whose content is zero bytes, like end marks",
        Build(s), {Ok(p)});
    s.extensions = {Text(std::string("AES\x02\x00\x00\x00", 7))};
    add("ext-looks-like-head", "an extension holding a container head", Build(s), {Ok(p)});
    s.extensions = {Bytes(300, 0xFF)};
    add("ext-ff", "an extension of 300 bytes 0xFF", Build(s), {Ok(p)});
    s.extensions = {Pattern(258, 3)};
    add("ext-big-endian", "an extension of 258 bytes (0x01 0x02; read little-endian it "
        "would be 513)", Build(s), {Ok(p)});
    s.extensions = {Pattern(16, 4)};
    add("ext-block-sized", "one 16-byte extension, so the section is 20 bytes", Build(s), {Ok(p)});
  }
  {
    // The extensions that run past the end, and the ones that just fit.
    ContainerOffsets o;
    const Bytes c = Build(Recipe(2, p17), &o);  // extensions of 26 and 128 bytes
    // What the extensions may take: their 158 bytes and the 32 of the ciphertext.
    const unsigned budget = static_cast<unsigned>(c.size() - 136);
    add("ext-overrun-ffff", "the first extension claims 65535 bytes", SetLength(c, 5, 0xFFFF),
        {Fails(F::TooSmallV2)});
    add("ext-overrun-by-one", "the first extension claims one byte more than the container "
        "can hold", SetLength(c, 5, budget - 1), {Fails(F::TooSmallV2)});
    add("ext-overrun-second", "the second extension claims 4096 bytes", SetLength(c, 33, 4096),
        {Fails(F::TooSmallV2)});
    add("ext-overrun-no-end-mark", "the end mark removed: the file IV is read as a length",
        Erase(c, 163, 2), {Fails(F::TooSmallV2)});
    add("ext-overrun-and-odd-length", "an extension past the end and a ciphertext length off "
        "by one: the extension decides", Append(SetLength(c, 5, 0xFFFF), 1), {Fails(F::TooSmallV2)});
    add("ext-overrun-and-wrong-password", "an extension past the end and a wrong password",
        SetLength(c, 33, 0x8000), {Fails(F::TooSmallV2, "wrong")});
    add("ext-exact-then-garbage", "the first extension uses the whole budget; the next length "
        "comes from the file IV", SetLength(c, 5, budget - 2), {Fails(F::TooSmallV2)});
    // With an empty ciphertext the same length swallows the other extension exactly and
    // lands on the real end mark: a valid container of one odd extension.
    const Bytes e = Build(Recipe(2, empty));
    add("ext-exact-swallows-rest", "the first extension's length covers both extensions; an "
        "empty plaintext follows", SetLength(e, 5, static_cast<unsigned>(e.size() - 136 - 2)),
        {Ok(empty)});
    add("v1-as-v2", "a version 1 container labelled version 2: the file IV is read as a length",
        Set(Build(Recipe(1, p40)), 3, 2), {Fails(F::TooSmallV2)});
    add("v0-as-v1", "a 101-byte version 0 container labelled version 1",
        Set(Build(Recipe(0, Pattern(48, 5))), 3, 1), {Fails(F::TooSmall)});
  }

  // --- Step 11: the key block ------------------------------------------------------------
  {
    ContainerOffsets o;
    const Bytes c = Build(Recipe(2, p40), &o);
    add("keyblock-wrong-password", "version 2, wrong password", c,
        {Fails(F::KeyBlockMac, "wrong"), Fails(F::KeyBlockMac, "Password"),
         Fails(F::KeyBlockMac, "password "), Fails(F::KeyBlockMac, ""), Ok(p40)});
    add("keyblock-file-iv-first", "first byte of the file IV changed", Flip(c, o.fileIv),
        {Fails(F::KeyBlockMac)});
    add("keyblock-file-iv-last", "last byte of the file IV changed", Flip(c, o.fileIv + 15, 0x80),
        {Fails(F::KeyBlockMac)});
    add("keyblock-block-first", "first byte of the key block changed", Flip(c, o.keyBlock),
        {Fails(F::KeyBlockMac)});
    add("keyblock-block-middle", "a byte of the key block's second block changed",
        Flip(c, o.keyBlock + 20), {Fails(F::KeyBlockMac)});
    add("keyblock-block-last", "last byte of the key block changed", Flip(c, o.keyBlock + 47),
        {Fails(F::KeyBlockMac)});
    add("keyblock-mac-first", "first byte of the key block MAC changed", Flip(c, o.keyBlockMac),
        {Fails(F::KeyBlockMac)});
    add("keyblock-mac-last", "last byte of the key block MAC changed",
        Flip(c, o.keyBlockMac + 31, 0xFF), {Fails(F::KeyBlockMac)});
    add("keyblock-and-bulk-mac", "key block MAC and bulk MAC changed: the key block decides",
        Flip(Flip(c, o.keyBlockMac + 3), o.bulkMac), {Fails(F::KeyBlockMac)});
    add("keyblock-wrong-password-damaged-data", "wrong password and a changed ciphertext",
        Flip(c, o.ciphertext), {Fails(F::KeyBlockMac, "wrong")});
    ContainerOffsets o1;
    const Bytes v1 = Build(Recipe(1, p40), &o1);
    add("keyblock-v1-wrong-password", "version 1, wrong password", v1,
        {Fails(F::KeyBlockMac, "wrong"), Ok(p40)});
    add("keyblock-v1-block", "version 1, a key block byte changed", Flip(v1, o1.keyBlock + 33),
        {Fails(F::KeyBlockMac)});
    ContainerOffsets oe;
    const Bytes v1e = Build(Recipe(1, empty), &oe);
    add("keyblock-v1-empty-mac", "version 1 with an empty ciphertext, key block MAC changed",
        Flip(v1e, oe.keyBlockMac + 10), {Fails(F::KeyBlockMac)});
  }

  // --- Step 14: the bulk MAC -------------------------------------------------------------
  {
    ContainerOffsets o;
    const Bytes c = Build(Recipe(2, p100), &o);  // 7 blocks
    add("bulk-cipher-first", "first ciphertext byte changed", Flip(c, o.ciphertext), {Fails(F::BulkMac)});
    add("bulk-cipher-last", "last ciphertext byte changed", Flip(c, o.ciphertext + o.cipherLength - 1),
        {Fails(F::BulkMac)});
    add("bulk-mac-first", "first bulk MAC byte changed", Flip(c, o.bulkMac), {Fails(F::BulkMac)});
    add("bulk-mac-last", "last bulk MAC byte changed", Flip(c, o.bulkMac + 31), {Fails(F::BulkMac)});
    Bytes swapped = c;
    std::swap_ranges(swapped.begin() + static_cast<long>(o.ciphertext),
                     swapped.begin() + static_cast<long>(o.ciphertext + 16),
                     swapped.begin() + static_cast<long>(o.ciphertext + 16));
    add("bulk-blocks-swapped", "the first two ciphertext blocks swapped", swapped, {Fails(F::BulkMac)});
    add("bulk-block-removed", "the third ciphertext block removed", Erase(c, o.ciphertext + 32, 16),
        {Fails(F::BulkMac)});
    add("bulk-block-repeated", "the first ciphertext block repeated",
        Insert(c, o.ciphertext, Bytes(c.begin() + static_cast<long>(o.ciphertext),
                                      c.begin() + static_cast<long>(o.ciphertext + 16))),
        {Fails(F::BulkMac)});
    add("bulk-truncated-16", "the last 16 bytes cut off", Truncate(c, 16), {Fails(F::BulkMac)});
    add("bulk-appended-16", "16 bytes appended", Append(c, 16), {Fails(F::BulkMac)});
    add("bulk-length-byte-and-mac", "length byte and bulk MAC changed",
        Set(Flip(c, o.bulkMac + 7), o.lengthByte, 9), {Fails(F::BulkMac)});
    ContainerOffsets oe;
    const Bytes e = Build(Recipe(2, empty), &oe);
    add("bulk-empty-mac", "version 2, empty ciphertext, bulk MAC changed", Flip(e, oe.bulkMac + 31),
        {Fails(F::BulkMac)});
    ContainerOffsets o1;
    const Bytes v1 = Build(Recipe(1, p40), &o1);
    add("bulk-v1-cipher", "version 1, a ciphertext byte changed", Flip(v1, o1.ciphertext + 20),
        {Fails(F::BulkMac)});
    ContainerOffsets o1e;
    const Bytes v1e = Build(Recipe(1, empty), &o1e);
    add("bulk-v1-empty-mac", "version 1, empty ciphertext, bulk MAC changed", Flip(v1e, o1e.bulkMac),
        {Fails(F::BulkMac)});
    ContainerOffsets o0;
    const Bytes v0 = Build(Recipe(0, p40), &o0);
    add("bulk-v0-wrong-password", "version 0, wrong password: all plaintext is written, then "
        "refused", v0, {Fails(F::BulkMacV0, "wrong"), Fails(F::BulkMacV0, ""), Ok(p40)});
    add("bulk-v0-cipher", "version 0, a ciphertext byte changed", Flip(v0, o0.ciphertext + 39),
        {Fails(F::BulkMacV0)});
    add("bulk-v0-mac", "version 0, bulk MAC changed", Flip(v0, o0.bulkMac), {Fails(F::BulkMacV0)});
    add("bulk-v0-empty-wrong-password", "version 0 of 53 bytes, wrong password",
        Build(Recipe(0, empty)), {Fails(F::BulkMacV0, "wrong")});
  }

  // --- The length byte: high bits ignored, low bits only cut the last piece --------------
  {
    const Bytes p32 = Pattern(32, 32);
    ContainerOffsets o;
    ContainerRecipe s = Recipe(2, p17);
    s.lengthByteHighBits = 0xF0;
    add("lengthbyte-v2-high-bits", "version 2, length byte 0xF1 for 17 bytes", Build(s), {Ok(p17)});
    const Bytes c17 = Build(Recipe(2, p17), &o);
    add("lengthbyte-v2-5", "version 2, 17 bytes, length byte changed to 5: 21 bytes come out",
        Set(c17, o.lengthByte, 5), {Ok(Released(p17, 5))});
    add("lengthbyte-v2-0", "version 2, 17 bytes, length byte changed to 0: the last block in full",
        Set(c17, o.lengthByte, 0), {Ok(Released(p17, 0))});
    add("lengthbyte-v2-0x8f", "version 2, 17 bytes, length byte 0x8F: 31 bytes",
        Set(c17, o.lengthByte, 0x8F), {Ok(Released(p17, 15))});
    ContainerOffsets o32;
    const Bytes c32 = Build(Recipe(2, p32), &o32);
    add("lengthbyte-v2-32-as-1", "version 2, 32 bytes, length byte changed to 1: 17 bytes",
        Set(c32, o32.lengthByte, 1), {Ok(Released(p32, 1))});
    ContainerOffsets oe;
    const Bytes e = Build(Recipe(2, empty), &oe);
    add("lengthbyte-v2-empty-7", "version 2, empty ciphertext, length byte 7: still empty",
        Set(e, oe.lengthByte, 7), {Ok(empty)});
    ContainerOffsets o1;
    const Bytes v1 = Build(Recipe(1, Pattern(16, 16)), &o1);
    add("lengthbyte-v1-high-bits", "version 1, 16 bytes, length byte 0xF0", Set(v1, o1.lengthByte, 0xF0),
        {Ok(Pattern(16, 16))});
    add("lengthbyte-v1-15", "version 1, 16 bytes, length byte 15: 15 bytes",
        Set(v1, o1.lengthByte, 15), {Ok(Released(Pattern(16, 16), 15))});
    s = Recipe(0, p17);
    s.lengthByteHighBits = 0xA0;
    add("lengthbyte-v0-high-bits", "version 0, length byte 0xA1 for 17 bytes", Build(s), {Ok(p17)});
    add("lengthbyte-v0-0", "version 0, 17 bytes, length byte 0: 32 bytes",
        Set(Build(Recipe(0, p17)), 4, 0), {Ok(Released(p17, 0))});
    add("lengthbyte-v0-empty-15", "version 0 of 53 bytes, length byte 15: still empty",
        Set(Build(Recipe(0, empty)), 4, 15), {Ok(empty)});
  }

  // --- Passwords: bytes exactly as given, code page 949 ----------------------------------
  {
    const Bytes p = Text("a container keyed with a Korean password\n");
    auto korean = [&](const std::string& name, int version, const std::string& cp949,
                      const std::string& utf8, F wrong) {
      add(name, "version " + std::to_string(version) +
          ", password in code page 949: raw bytes, UTF-8 converted, or the UTF-8 text (whose code page "
          "949 form is tried after it) open it; another text does not",
          Build(Recipe(version, p, cp949)),
          {Ok(p, cp949), Converted(Ok(p, cp949), utf8), Ok(p, utf8), Fails(wrong, utf8 + utf8)});
    };
    korean("password-cp949-v2", 2, kAmhoCp949, kAmhoUtf8, F::KeyBlockMac);
    korean("password-cp949-v1", 1, kSecretCp949, kSecretUtf8, F::KeyBlockMac);
    korean("password-cp949-v0", 0, kAmhoCp949, kAmhoUtf8, F::BulkMacV0);
    add("password-utf8-v2", "version 2, password in UTF-8: converting it to code page 949 "
        "loses it", Build(Recipe(2, p, kAmhoUtf8)),
        {Ok(p, kAmhoUtf8), Converted(Fails(F::KeyBlockMac, kAmhoCp949), kAmhoUtf8),
         Fails(F::KeyBlockMac, kAmhoCp949)});
    add("password-empty", "version 2, empty password", Build(Recipe(2, p, "")),
        {Ok(p, ""), Fails(F::KeyBlockMac, " ")});
    const std::string longest(255, 'k');
    add("password-255", "version 2, a 255-byte password", Build(Recipe(2, p, longest)),
        {Ok(p, longest), Fails(F::KeyBlockMac, longest.substr(0, 254))});
    add("password-spaces", "version 2, a password with spaces at both ends",
        Build(Recipe(2, p, " pass word ")),
        {Ok(p, " pass word "), Fails(F::KeyBlockMac, "pass word")});
    const std::string high("\x80\x81\xFE\xFF\xA1", 5);  // not UTF-8, not text at all
    add("password-high-bytes", "version 2, a password of bytes that are no text",
        Build(Recipe(2, p, high)), {Ok(p, high)});
    Run lineEnd = Ok(p);
    lineEnd.passwordFile = "password\r\nsecond line";
    add("password-file-line-end", "the password file's first line is the password",
        Build(Recipe(2, p)), {lineEnd});
  }
  return all;
}

// --- Output --------------------------------------------------------------------------------

std::string Hex(const void* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  const uint8_t* p = static_cast<const uint8_t*>(data);
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::string Sha256Hex(const Bytes& data) {
  Sha256Context ctx;
  ctx.Init();
  ctx.Update(data.data(), static_cast<uint32_t>(data.size()));
  uint8_t digest[32];
  ctx.Final(digest);
  return Hex(digest, 32);
}

// Tabs, line ends and backslashes written as \t, \r, \n and \\.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Manifest(const std::vector<Scenario>& all) {
  std::ostringstream m;
  m << "# Generated by tests/corpus/make_corpus.cpp: do not edit; rebuild with\n"
       "#   cmake --build build/linux --target corpus\n"
       "# One row per run of `qv3 decrypt --password-file FILE [--password-encoding cp949]"
       " CONTAINER`:\n"
       "# FILE holds the password column's bytes (hex); the outcome is `ok` with the\n"
       "# plaintext's SHA-256, or `fail` with the reader's failure (see messages.tsv).\n"
       "# container\tpassword-file\tencoding\toutcome\tdetail\tdescription\n";
  for (const Scenario& s : all) {
    for (const Run& r : s.runs) {
      m << s.name << '\t' << (r.passwordFile.empty() ? "-" : Hex(r.passwordFile.data(), r.passwordFile.size()))
        << '\t' << (r.cp949 ? "cp949" : "-") << '\t' << (r.ok ? "ok" : "fail") << '\t'
        << (r.ok ? Sha256Hex(r.plaintext) : FailureName(r.failure)) << '\t' << s.description << '\n';
    }
  }
  return m.str();
}

std::string Messages() {
  std::ostringstream m;
  m << "# Generated by tests/corpus/make_corpus.cpp: the reader's messages, each the prefix,\n"
       "# the container's path and the suffix (escaped: \\r \\n \\t \\\\).\n"
       "# failure\tprefix\tsuffix\n";
  for (FailureKind f : kAllFailures) {
    const FailureMessage r = MessageFor(f);
    m << FailureName(f) << '\t' << Escape(r.prefix) << '\t' << Escape(r.suffix) << '\n';
  }
  return m.str();
}

// Checks every run against ContainerReader, in two chunk sizes; prints each disagreement.
bool Verify(const std::vector<Scenario>& all) {
  bool good = true;
  for (const Scenario& s : all) {
    for (const Run& r : s.runs) {
      for (size_t chunk : {size_t{16}, size_t{1} << 20}) {
        std::string outcome, expected;
        try {
          // As qv3 tries a password file: converted, the bytes alone; else the bytes given,
          // then the forms of their text, after the empty password for a category name.
          const Bytes plain =
              r.cp949 ? testutil::DecryptInMemory(s.bytes, r.keyBytes, chunk, s.name)
                      : testutil::DecryptInMemory(
                            s.bytes, CandidatesForContainer(s.name, GivenPasswordCandidates(r.keyBytes)), chunk, s.name);
          outcome = "ok " + Sha256Hex(plain);
        } catch (const SystemErrorException& e) {
          outcome = "fail " + Escape(FailureText(e.m_failure));
        }
        expected = r.ok ? "ok " + Sha256Hex(r.plaintext)
                        : "fail " + Escape(FailureText({r.failure, 0, s.name}));
        if (outcome != expected) {
          std::fprintf(stderr, "%s (password %s, chunk %zu): expected %s, the reader gives %s\n",
                       s.name.c_str(), Hex(r.keyBytes.data(), r.keyBytes.size()).c_str(), chunk,
                       expected.c_str(), outcome.c_str());
          good = false;
        }
      }
    }
  }
  return good;
}

bool ReadFile(const fs::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const fs::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  bool check = false;
  int arg = 1;
  if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
    check = true;
    ++arg;
  }
  if (argc != arg + 1) {
    std::fprintf(stderr, "usage: qv3_make_corpus [--check] DIR\n");
    return 2;
  }
  const fs::path dir = argv[arg];
  const fs::path containers = dir / "containers";

  const std::vector<Scenario> all = Scenarios();
  std::map<std::string, std::string> files;
  for (const Scenario& s : all) {
    if (!files.emplace(s.name, std::string(s.bytes.begin(), s.bytes.end())).second) {
      std::fprintf(stderr, "two scenarios are named %s\n", s.name.c_str());
      return 1;
    }
  }
  files["../manifest.tsv"] = Manifest(all);
  files["../messages.tsv"] = Messages();
  if (!Verify(all)) {
    std::fprintf(stderr, "the reader disagrees with the corpus: nothing written\n");
    return 1;
  }

  std::error_code ec;
  std::set<std::string> present;
  for (const auto& entry : fs::directory_iterator(containers, ec)) {
    if (entry.path().extension() == ".aqv3") present.insert(entry.path().filename().string());
  }

  int differences = 0;
  for (const auto& [name, data] : files) {
    const fs::path path = (containers / name).lexically_normal();
    present.erase(name);
    std::string current;
    if (ReadFile(path, &current) && current == data) continue;
    if (check) {
      std::fprintf(stderr, "out of date: %s\n", path.string().c_str());
      ++differences;
      continue;
    }
    fs::create_directories(path.parent_path(), ec);
    if (!WriteFile(path, data)) {
      std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
      return 1;
    }
  }
  for (const std::string& stale : present) {
    if (check) {
      std::fprintf(stderr, "not generated: %s\n", (containers / stale).string().c_str());
      ++differences;
    } else {
      fs::remove(containers / stale, ec);
    }
  }
  if (check && differences > 0) {
    std::fprintf(stderr, "%d corpus files differ from the generator; rebuild with "
                 "`cmake --build build/linux --target corpus`\n", differences);
    return 1;
  }
  size_t runs = 0;
  for (const Scenario& s : all) runs += s.runs.size();
  std::printf("%zu containers, %zu runs%s\n", all.size(), runs, check ? ": up to date" : "");
  return 0;
}
