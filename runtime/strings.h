// Tracked strings and the runtime's small utilities.
//
// A TrackedString is one heap block: a 32-bit length, the characters and a zero byte,
// handed around as the address of its first character. Every live one is recorded in
// the string registry, and a string is freed only through it, so releasing anything the
// registry does not hold is reported on the debug output instead of harming the heap.
#pragma once

#include <cstdint>

namespace runtime {

using TrackedString = char*;

// Starts the registry. Runs once, before any other routine of this header.
void RuntimeInit();

// A new string of `length` zero characters. When the heap cannot give the block or the
// larger registry table, or the length is negative or too large for a block, the failure
// goes to the debug output, the registry is left as it was, and the result is null.
TrackedString AllocString(int32_t length);

// Frees a live string. Null is ignored; any other address the registry does not hold is
// reported on the debug output and nothing is freed.
void ReleaseString(TrackedString s);

// A new one-character string holding the low 8 bits of `code`.
TrackedString CharString(uint32_t code);

// The length a string was allocated with (read from the 4 bytes before it).
int32_t StringLength(TrackedString s);

uint32_t LowWord(uint32_t value);   // bits 0 to 15
uint32_t HighWord(uint32_t value);  // bits 16 to 31, never sign-extended

// Shows a message box (null caption: the platform's default), stores the button pressed
// in *result when result is not null, then releases caption, then text.
void ShowMessage(void* owner, TrackedString text, TrackedString caption, uint32_t style,
                 int32_t* result);

// Ends the process at once with exit code 0.
[[noreturn]] void EndProgram();

// String operators. They take lengths from the length fields, so zero bytes inside a
// string are kept, and they release the operands named below before returning.

// A new string: left's characters, then right's. Consumes left, then right.
TrackedString ConcatStrings(TrackedString left, TrackedString right);

// 1 when left sorts before right, 2 when equal, 3 when after, 0 when the comparison
// fails. Consumes left, then right.
int32_t CompareStrings(TrackedString left, TrackedString right);

// The same comparison; consumes right only.
int32_t CompareStringsKeepLeft(TrackedString left, TrackedString right);

}  // namespace runtime
