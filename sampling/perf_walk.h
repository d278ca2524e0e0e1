// The bounds-checked walk over a performance data block: objects by title index, counter
// definitions by title index, instances and their counter blocks. Every length and offset is
// checked against the bytes the query returned before a field behind it is read, whatever the
// block holds. No windows.h and no system call: the processor-load meter, the disk-activity
// walk and the stand-in host's listing of disks share it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sampling/perf_layout.h"

namespace perfwalk {

// A stretch [begin, end) of the data block. A field is read only after the stretch that holds
// it has been found to lie inside the bytes the query returned.
struct Span {
    size_t begin;
    size_t end;
};

// The `length` bytes at `offset` into `outer`, when they lie wholly inside it.
bool innerSpan(Span outer, uint64_t offset, uint64_t length, Span* inner);

uint16_t read16(const uint8_t* block, size_t at);
uint32_t read32(const uint8_t* block, size_t at);
int64_t read64(const uint8_t* block, size_t at);

// A structure at `offset` into `outer` whose own 32-bit length field gives its size. The size
// must cover the fixed header, so that a zero length cannot hold a walk in place, and the whole
// structure must lie inside `outer`.
bool sizedStructure(const uint8_t* block, Span outer, uint64_t offset, size_t headerSize, size_t lengthField,
                    Span* structure);

// The data block within the `length` bytes returned: its header and its TotalByteLength fit.
bool dataBlock(const uint8_t* block, size_t length, Span* whole);
enum ObjectSearch {
    objectFound,
    objectAbsent,    // every object the block counts was walked: none has the title index
    blockMalformed,  // a header or length on the way does not fit the block
};
// The first of the block's NumObjectTypes objects with the title index.
ObjectSearch findObject(const uint8_t* block, Span whole, uint32_t objectIndex, Span* object);

struct CounterDefinition {
    uint32_t offset;  // CounterOffset: into the counter block
    uint32_t size;    // CounterSize in bytes, as the definition states it
};
// The object's counter definition with the title index, found by index, never by position.
bool findCounter(const uint8_t* block, Span object, uint32_t counterIndex, CounterDefinition* counter);

// The object's single counter block, for an object without instances (NumInstances -1).
bool singleCounterBlock(const uint8_t* block, Span object, Span* counters);
bool hasInstances(const uint8_t* block, Span object);

// The name of an instance: its UTF-16 units from NameOffset up to the terminator. False when no
// terminator lies inside the instance definition.
bool instanceName(const uint8_t* block, Span instance, Span* name);
inline size_t nameUnits(Span name) { return (name.end - name.begin) / 2; }

// What a matcher says of an instance's name.
enum NameMatch { nameDiffers, nameMatches, nameMalformed };

// The counter block of the first of the object's NumInstances instances whose name `match`
// accepts; match(Span name) answers a NameMatch, and nameMalformed ends the walk. Each instance
// takes at least its header and a counter block header, so the walk ends at the object's end
// whatever count the object claims.
template <typename Match>
bool findInstance(const uint8_t* block, Span object, Match match, Span* counters) {
    using namespace perflayout;
    const uint32_t definitionLength = read32(block, object.begin + OBJECT_DEFINITION_LENGTH);
    const int32_t count = static_cast<int32_t>(read32(block, object.begin + OBJECT_NUM_INSTANCES));
    uint64_t at = definitionLength;
    for (int32_t i = 0; i < count; ++i) {
        Span instance, name, instanceCounters;
        if (!sizedStructure(block, object, at, INSTANCE_SIZE, INSTANCE_BYTE_LENGTH, &instance)) return false;
        if (!instanceName(block, instance, &name)) return false;
        const NameMatch found = match(name);
        if (found == nameMalformed) return false;
        if (!sizedStructure(block, object, instance.end - object.begin, COUNTER_BLOCK_SIZE, COUNTER_BLOCK_BYTE_LENGTH,
                            &instanceCounters))
            return false;
        if (found == nameMatches) {
            *counters = instanceCounters;
            return true;
        }
        at = instanceCounters.end - object.begin;
    }
    return false;
}

// The `size` bytes at the counter's offset into a counter block, when they lie inside it.
bool counterField(Span counters, uint32_t offset, size_t size, Span* field);

// Longest instance name, in bytes of the ANSI code page, that a comparison converts.
constexpr size_t MAX_NAME_BYTES = 255;
// The system's conversion from UTF-16 to the ANSI code page (the meter's platform seam):
// writes at most outSize bytes and no terminator, answers the bytes written, 0 when refused.
typedef int32_t (*WideToAnsi)(const uint16_t* text, int32_t units, char* out, int32_t outSize);
// The name converted into `out` (no terminator): the bytes written, 0 for an empty name, -1 when
// the conversion is refused or takes more than outSize bytes (at most MAX_NAME_BYTES). A name
// of more than twice outSize units cannot fit, since every character yields at least one byte:
// it is not converted at all.
int32_t convertName(const uint8_t* block, Span name, WideToAnsi convert, char* out, size_t outSize);

// The ASCII letters A to Z equal a to z; every other byte is itself.
inline char foldAsciiCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool sameFoldedText(const char* a, const char* b, size_t length);

}  // namespace perfwalk
