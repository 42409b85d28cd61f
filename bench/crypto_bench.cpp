// Throughput of each AES and SHA-256 implementation this machine offers, and of reading
// and writing whole containers in memory (key derivation included).
//   build/linux/bench/qv3_bench --benchmark_filter=Container

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "container/format.h"
#include "container/io.h"
#include "crypto/dispatch.h"
#include "crypto/hmac.h"

namespace {

const AesImplementation* AesImpl(int i) {
  const AesImplementation* list[4];
  const size_t n = AvailableAesImplementations(list, 4);
  return static_cast<size_t>(i) < n ? list[i] : nullptr;
}

const Sha256Implementation* ShaImpl(int i) {
  const Sha256Implementation* list[4];
  const size_t n = AvailableSha256Implementations(list, 4);
  return static_cast<size_t>(i) < n ? list[i] : nullptr;
}

void CbcDecrypt(benchmark::State& state) {
  const AesImplementation* impl = AesImpl(static_cast<int>(state.range(0)));
  if (!impl) return state.SkipWithError("not on this CPU");
  state.SetLabel(impl->name);
  uint8_t key[32] = {1};
  AesDecryptContext ctx;
  AesCipher::SetDecryptKey(key, &ctx);
  std::vector<uint8_t> buf(1 << 20);
  uint8_t iv[16] = {};
  for (auto _ : state) impl->cbcDecrypt(ctx, iv, buf.data(), buf.data(), buf.size() / 16);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}
BENCHMARK(CbcDecrypt)->Arg(0)->Arg(1);

void CbcEncrypt(benchmark::State& state) {
  const AesImplementation* impl = AesImpl(static_cast<int>(state.range(0)));
  if (!impl) return state.SkipWithError("not on this CPU");
  state.SetLabel(impl->name);
  uint8_t key[32] = {1};
  AesEncryptContext ctx;
  AesCipher::SetEncryptKey(key, &ctx);
  std::vector<uint8_t> buf(1 << 20);
  uint8_t iv[16] = {};
  for (auto _ : state) impl->cbcEncrypt(ctx, iv, buf.data(), buf.data(), buf.size() / 16);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}
BENCHMARK(CbcEncrypt)->Arg(0)->Arg(1);

void Sha256(benchmark::State& state) {
  const Sha256Implementation* impl = ShaImpl(static_cast<int>(state.range(0)));
  if (!impl) return state.SkipWithError("not on this CPU");
  state.SetLabel(impl->name);
  std::vector<uint8_t> buf(1 << 20);
  uint32_t h[8] = {};
  for (auto _ : state) impl->compress(h, buf.data(), buf.size() / 64);
  benchmark::DoNotOptimize(h);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}
BENCHMARK(Sha256)->Arg(0)->Arg(1);

// One container's password key, the most of what decrypting or encrypting a small file
// costs (bench/throughput's password has 10 bytes).
void KeyDerivation(benchmark::State& state) {
  const std::string password(static_cast<size_t>(state.range(0)), 'p');
  uint8_t iv[16] = {1}, key[32];
  for (auto _ : state) {
    DeriveContainerKey(iv, password.data(), password.size(), key);
    benchmark::DoNotOptimize(key);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetLabel(ActiveSha256().name);
}
BENCHMARK(KeyDerivation)->Arg(10)->Unit(benchmark::kMicrosecond);

std::vector<uint8_t> MakeContainer(size_t size) {
  std::vector<uint8_t> plain(size, 0x5a);
  uint8_t iv[16] = {1}, material[48] = {2};
  MemorySink sink;
  ContainerWriter writer(sink, "bench.aqv3");
  writer.WriteHead(iv, material, "password", 8);
  writer.WritePlaintext(plain.data(), plain.size());
  writer.Finish();
  return sink.bytes;
}

void ContainerDecrypt(benchmark::State& state) {
  const auto container = MakeContainer(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> out(1 << 20);
  for (auto _ : state) {
    MemorySource source(container.data(), container.size());
    ContainerReader reader(source, "bench.aqv3");
    reader.ReadLayout();
    reader.Unlock("password", 8);
    while (reader.ReadPlaintext(out.data(), out.size())) {
    }
    reader.Finish();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetLabel(std::string(ActiveAes().name) + " + " + ActiveSha256().name);
}
BENCHMARK(ContainerDecrypt)->Arg(0)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

void ContainerEncrypt(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> plain(size, 0x5a);
  uint8_t iv[16] = {1}, material[48] = {2};
  for (auto _ : state) {
    MemorySink sink;
    sink.bytes.reserve(size + 400);
    ContainerWriter writer(sink, "bench.aqv3");
    writer.WriteHead(iv, material, "password", 8);
    writer.WritePlaintext(plain.data(), plain.size());
    writer.Finish();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetLabel(std::string(ActiveAes().name) + " + " + ActiveSha256().name);
}
BENCHMARK(ContainerEncrypt)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
