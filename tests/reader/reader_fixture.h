// Opens in-memory sources through the reader's own open path.
#ifndef OGMDECAPS_TESTS_READER_READER_FIXTURE_H
#define OGMDECAPS_TESTS_READER_READER_FIXTURE_H

#include <gtest/gtest.h>

#include "memory_input.h"
#include "reader/entries.h"
#include "simple_ogm.h"
#include "state/reader_state.h"

class ReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { CloseEntry(); }

  // 1 when the source opened; info_ then points at the record.
  int32_t OpenBytes(const ogmtest::Bytes& file, const ogmtest::MemoryInputConfig& config = {},
                    const char16_t* name = u"/media/test.ogm") {
    ogmtest::MemoryInputReset(file, config);
    void* result = nullptr;
    const int32_t r = OpenWithInput(ogmtest::MemoryInput(), name, 0, &result);
    info_ = static_cast<StreamInfo*>(result);
    return r;
  }

  StreamInfo* info_ = nullptr;
};

#endif
