// libFuzzer target for ParseComicList; see release_list_fuzz.h for the input.
#include "fuzz/release_list_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::RunReleaseList(ParseComicList, "date,company,title,author,price,memo", data, size);
}
