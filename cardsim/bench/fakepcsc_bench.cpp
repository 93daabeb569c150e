// One SELECT round trip (SELECT "Master.File", answered 61xx, then GET RESPONSE)
// through the in-process fake PC/SC library and the virtual card.
#include <winscard.h>

#include <benchmark/benchmark.h>

#include <cstring>

#include "cardsim/fake_pcsc.h"
#include "cardsim/virtual_card.h"

namespace {

void BM_FakePcscSelectRoundTrip(benchmark::State& state) {
  fakepcsc::Reset();
  fakepcsc::AddReader("Bench Reader");
  fakepcsc::InsertCard("Bench Reader", cardsim::VirtualCard::MakeFresh(cardsim::CardSpec{}));
  SCARDCONTEXT ctx = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS ||
      SCardConnect(ctx, "Bench Reader", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card, &protocol) !=
          SCARD_S_SUCCESS) {
    state.SkipWithError("no connection");
    return;
  }
  const BYTE select[] = {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's',
                         't',  'e',  'r',  '.',  'F',  'i', 'l', 'e'};
  BYTE getResponse[] = {0x00, 0xC0, 0x00, 0x00, 0x00};
  BYTE recv[258];
  std::size_t n = 0;
  for (auto _ : state) {
    DWORD len = sizeof recv;
    SCardTransmit(card, SCARD_PCI_T0, select, sizeof select, nullptr, recv, &len);
    if (len != 2 || recv[0] != 0x61) {
      state.SkipWithError("SELECT not answered 61xx");
      break;
    }
    getResponse[4] = recv[1];
    len = sizeof recv;
    SCardTransmit(card, SCARD_PCI_T0, getResponse, sizeof getResponse, nullptr, recv, &len);
    if (len < 2 || recv[len - 2] != 0x90) {
      state.SkipWithError("GET RESPONSE failed");
      break;
    }
    benchmark::DoNotOptimize(recv);
    // The fake records every command; keep the trace from growing without bound.
    if (++n % 4096 == 0) fakepcsc::ClearTrace();
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(ctx);
  fakepcsc::Reset();
}
BENCHMARK(BM_FakePcscSelectRoundTrip);

}  // namespace
