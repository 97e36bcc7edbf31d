// libFuzzer target for ParseBunkoList; see release_list_fuzz.h for the input.
#include "fuzz/release_list_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::RunReleaseList(ParseBunkoList, "date,company,category,title,author,price", data,
                              size);
}
