// The bounds-checked walk over performance data blocks, field by field at the system's offsets.
#include "sampling/perf_walk.h"

using namespace perflayout;

namespace perfwalk {

bool innerSpan(Span outer, uint64_t offset, uint64_t length, Span* inner) {
    const uint64_t room = outer.end - outer.begin;
    if (offset > room || length > room - offset) return false;
    inner->begin = outer.begin + static_cast<size_t>(offset);
    inner->end = inner->begin + static_cast<size_t>(length);
    return true;
}

uint16_t read16(const uint8_t* block, size_t at) { return static_cast<uint16_t>(block[at] | (block[at + 1] << 8)); }

uint32_t read32(const uint8_t* block, size_t at) {
    return static_cast<uint32_t>(block[at]) | static_cast<uint32_t>(block[at + 1]) << 8 |
           static_cast<uint32_t>(block[at + 2]) << 16 | static_cast<uint32_t>(block[at + 3]) << 24;
}

int64_t read64(const uint8_t* block, size_t at) {
    return static_cast<int64_t>(static_cast<uint64_t>(read32(block, at + 4)) << 32 | read32(block, at));
}

bool sizedStructure(const uint8_t* block, Span outer, uint64_t offset, size_t headerSize, size_t lengthField,
                    Span* structure) {
    Span header;
    if (!innerSpan(outer, offset, headerSize, &header)) return false;
    const uint32_t length = read32(block, header.begin + lengthField);
    if (length < headerSize) return false;
    return innerSpan(outer, offset, length, structure);
}

bool dataBlock(const uint8_t* block, size_t length, Span* whole) {
    return block && sizedStructure(block, {0, length}, 0, DATA_BLOCK_SIZE, DATA_TOTAL_BYTE_LENGTH, whole);
}

ObjectSearch findObject(const uint8_t* block, Span whole, uint32_t objectIndex, Span* object) {
    const uint32_t headerLength = read32(block, whole.begin + DATA_HEADER_LENGTH);
    if (headerLength < DATA_BLOCK_SIZE) return blockMalformed;
    const uint32_t objectCount = read32(block, whole.begin + DATA_NUM_OBJECT_TYPES);
    uint64_t at = headerLength;
    for (uint32_t i = 0; i < objectCount; ++i) {
        if (!sizedStructure(block, whole, at, OBJECT_SIZE, OBJECT_TOTAL_BYTE_LENGTH, object)) return blockMalformed;
        if (read32(block, object->begin + OBJECT_NAME_TITLE_INDEX) == objectIndex) return objectFound;
        at = object->end - whole.begin;
    }
    return objectAbsent;
}

bool findCounter(const uint8_t* block, Span object, uint32_t counterIndex, CounterDefinition* counter) {
    const uint32_t headerLength = read32(block, object.begin + OBJECT_HEADER_LENGTH);
    const uint32_t definitionLength = read32(block, object.begin + OBJECT_DEFINITION_LENGTH);
    Span definitions;
    if (headerLength < OBJECT_SIZE || definitionLength < headerLength) return false;
    if (!innerSpan(object, headerLength, definitionLength - headerLength, &definitions)) return false;
    const uint32_t count = read32(block, object.begin + OBJECT_NUM_COUNTERS);
    uint64_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Span definition;
        if (!sizedStructure(block, definitions, at, COUNTER_DEFINITION_SIZE, COUNTER_BYTE_LENGTH, &definition))
            return false;
        if (read32(block, definition.begin + COUNTER_NAME_TITLE_INDEX) == counterIndex) {
            counter->offset = read32(block, definition.begin + COUNTER_OFFSET);
            counter->size = read32(block, definition.begin + COUNTER_SIZE);
            return true;
        }
        at = definition.end - definitions.begin;
    }
    return false;
}

bool hasInstances(const uint8_t* block, Span object) {
    return static_cast<int32_t>(read32(block, object.begin + OBJECT_NUM_INSTANCES)) != OBJECT_NO_INSTANCES;
}

bool singleCounterBlock(const uint8_t* block, Span object, Span* counters) {
    const uint32_t definitionLength = read32(block, object.begin + OBJECT_DEFINITION_LENGTH);
    return sizedStructure(block, object, definitionLength, COUNTER_BLOCK_SIZE, COUNTER_BLOCK_BYTE_LENGTH, counters);
}

bool instanceName(const uint8_t* block, Span instance, Span* name) {
    const uint32_t nameOffset = read32(block, instance.begin + INSTANCE_NAME_OFFSET);
    if (nameOffset > instance.end - instance.begin) return false;
    for (size_t at = instance.begin + nameOffset;; at += 2) {
        if (instance.end - at < 2) return false;  // no terminator inside the instance
        if (read16(block, at) == 0) {
            *name = Span{instance.begin + nameOffset, at};
            return true;
        }
    }
}

bool counterField(Span counters, uint32_t offset, size_t size, Span* field) {
    return innerSpan(counters, offset, size, field);
}

int32_t convertName(const uint8_t* block, Span name, WideToAnsi convert, char* out, size_t outSize) {
    const size_t units = nameUnits(name);
    if (units == 0) return 0;
    if (outSize == 0 || outSize > MAX_NAME_BYTES || units > 2 * outSize) return -1;
    uint16_t wide[2 * MAX_NAME_BYTES];
    for (size_t i = 0; i < units; ++i) wide[i] = read16(block, name.begin + 2 * i);
    const int32_t written = convert(wide, static_cast<int32_t>(units), out, static_cast<int32_t>(outSize));
    return written > 0 ? written : -1;
}

bool sameFoldedText(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (foldAsciiCase(a[i]) != foldAsciiCase(b[i])) return false;
    return true;
}

}  // namespace perfwalk
