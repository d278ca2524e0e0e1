// Byte offsets of the performance data structures as the system lays them out, so that the
// data block can be read field by field without the platform headers.
#pragma once

#include <cstddef>

namespace perflayout {

// PERF_DATA_BLOCK: the header of the whole block. Its 64-bit time fields are 8-byte aligned,
// which puts PerfTime100nSec at 72 on both 32-bit and 64-bit systems.
constexpr size_t DATA_BLOCK_SIZE = 88;
constexpr size_t DATA_SIGNATURE = 0;
constexpr size_t DATA_LITTLE_ENDIAN = 8;
constexpr size_t DATA_VERSION = 12;
constexpr size_t DATA_REVISION = 16;
constexpr size_t DATA_TOTAL_BYTE_LENGTH = 20;
constexpr size_t DATA_HEADER_LENGTH = 24;
constexpr size_t DATA_NUM_OBJECT_TYPES = 28;
constexpr size_t DATA_DEFAULT_OBJECT = 32;
constexpr size_t DATA_PERF_TIME = 56;
constexpr size_t DATA_PERF_FREQ = 64;
constexpr size_t DATA_PERF_TIME_100NSEC = 72;
constexpr size_t DATA_SYSTEM_NAME_LENGTH = 80;
constexpr size_t DATA_SYSTEM_NAME_OFFSET = 84;

// PERF_OBJECT_TYPE: the title pointers of the 32-bit layout are 32-bit indices on 64-bit
// systems, so the header is 64 bytes on both.
constexpr size_t OBJECT_SIZE = 64;
constexpr size_t OBJECT_TOTAL_BYTE_LENGTH = 0;
constexpr size_t OBJECT_DEFINITION_LENGTH = 4;
constexpr size_t OBJECT_HEADER_LENGTH = 8;
constexpr size_t OBJECT_NAME_TITLE_INDEX = 12;
constexpr size_t OBJECT_HELP_TITLE_INDEX = 20;
constexpr size_t OBJECT_DETAIL_LEVEL = 28;
constexpr size_t OBJECT_NUM_COUNTERS = 32;
constexpr size_t OBJECT_DEFAULT_COUNTER = 36;
constexpr size_t OBJECT_NUM_INSTANCES = 40;
constexpr size_t OBJECT_CODE_PAGE = 44;

// NumInstances of an object that has a single counter block and no instances.
constexpr int OBJECT_NO_INSTANCES = -1;

// PERF_COUNTER_DEFINITION.
constexpr size_t COUNTER_DEFINITION_SIZE = 40;
constexpr size_t COUNTER_BYTE_LENGTH = 0;
constexpr size_t COUNTER_NAME_TITLE_INDEX = 4;
constexpr size_t COUNTER_HELP_TITLE_INDEX = 12;
constexpr size_t COUNTER_DEFAULT_SCALE = 20;
constexpr size_t COUNTER_DETAIL_LEVEL = 24;
constexpr size_t COUNTER_TYPE = 28;
constexpr size_t COUNTER_SIZE = 32;
constexpr size_t COUNTER_OFFSET = 36;

// PERF_INSTANCE_DEFINITION; the UTF-16 name follows the header.
constexpr size_t INSTANCE_SIZE = 24;
constexpr size_t INSTANCE_BYTE_LENGTH = 0;
constexpr size_t INSTANCE_PARENT_OBJECT_TITLE_INDEX = 4;
constexpr size_t INSTANCE_PARENT_OBJECT_INSTANCE = 8;
constexpr size_t INSTANCE_UNIQUE_ID = 12;
constexpr size_t INSTANCE_NAME_OFFSET = 16;
constexpr size_t INSTANCE_NAME_LENGTH = 20;

// PERF_COUNTER_BLOCK: its ByteLength, then the counter values.
constexpr size_t COUNTER_BLOCK_SIZE = 4;
constexpr size_t COUNTER_BLOCK_BYTE_LENGTH = 0;

}  // namespace perflayout
