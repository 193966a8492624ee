// Fuzz target: the stored history of a desktop page field, as read back from
// the settings. A list that decodes must encode and decode to itself.
#include <cstdio>
#include <cstdlib>

#include "ui/history_codec.h"

using namespace torquelin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<torquelin::HistoryList> list = torquelin::DecodeHistory(data, size);
  if (!list) return 0;
  if (list->size() > torquelin::kMaxHistoryEntries) {
    std::fprintf(stderr, "history: %zu entries decoded\n", list->size());
    std::abort();
  }
  const std::vector<uint8_t> again = torquelin::EncodeHistory(*list);
  if (again.size() > size || torquelin::DecodeHistory(again.data(), again.size()) != list) {
    std::fprintf(stderr, "history: a decoded list does not survive encoding\n");
    std::abort();
  }
  return 0;
}
