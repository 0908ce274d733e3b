#!/usr/bin/env bash
# Writes the seed inputs of the fuzz targets into fuzz_strings/ and fuzz_numeric/ beside this
# script. The layouts are those the targets read (see the top of each target's source).
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p fuzz_strings fuzz_numeric

# bytes HEX...: the bytes named in hexadecimal.
bytes() { local b; for b in "$@"; do printf "\\x$b"; done; }
# le BITS COUNT: the low COUNT bytes of the hexadecimal number BITS, little-endian.
le() {
  local v=$(( $1 )) i
  for ((i = 0; i < $2; i++)); do printf "\\x$(printf %02x $(( (v >> (8 * i)) & 0xff )))"; done
}

# fuzz_strings: one operation byte, then its operands.
#   00 alloc (length class, ...)  02 char (code, 4 bytes)  03 release a live string (index)
#   04 00 release an earlier address (index)  04 01 release a stranger (kind, index, offset)
#   05 join (i, j)  06 compare (i, j)  07 compare keeping left (i, j)  08 compare with a copy
#   09 write (index, offset 2 bytes, count, bytes...)  0b fail the next allocation (heap
#   requests that still succeed)
{
  bytes 00 00  00 01 0a  00 04 ff  00 05 00 10  00 07 00  00 07 02
  bytes 03 01  04 00 00  04 01 00  04 01 01  04 01 02 00 00 00  04 01 03 01
  bytes 02 0d 00 00 00  02 41 01 00 00  02 00 00 00 00  03 00
} >fuzz_strings/registry
{
  bytes 00 01 03  09 00 00 00 03 61 00 62  00 01 01  09 01 00 00 01 7a  05 00 01
  bytes 02 61 00 00 00  02 62 00 00 00  06 01 02
  bytes 00 01 02  09 01 00 00 02 61 62  00 01 02  09 02 00 00 02 61 62  07 01 02
  bytes 08 00 00  08 01 00  08 02 00  05 00 01
} >fuzz_strings/join-compare
{
  bytes 0b 00 00 00  0b 01 00 01 05  0b 02 00 00
  bytes 0b 00 02 41 00 00 00  0b 02 02 42 00 00 00  0b 03 02 43 00 00 00  0b 04 02 44 00 00 00
  bytes 00 01 02  00 01 03  0b 00 05 00 01  0b 01 05 00 01  0b 02 05 00 01
} >fuzz_strings/failures
{
  # Shift-JIS text, a lone lead byte, bytes that start no character, zero bytes.
  bytes 00 01 04  09 00 00 00 04 82 a0 88 9f  00 01 04  09 01 00 00 04 82 a0 88 9e
  bytes 00 01 03  09 02 00 00 03 80 ff 82  00 01 03  09 03 00 00 03 61 00 00
  bytes 00 01 01  09 04 00 00 01 61
  bytes 06 00 01  07 00 01  08 00 00  07 00 01
} >fuzz_strings/shift-jis
{
  bytes 00 06 ff ff  00 06 ff ff  09 00 f0 ff 04 41 42 43 44  05 00 01  08 00 00
} >fuzz_strings/large

# fuzz_numeric: records of 22 bytes: how to build x (and the rounding mode for FloorToInt),
# how to build y and n, then x, y (8 bytes each) and n (4 bytes).
record() { bytes "$1" "$2"; le "$3" 8; le "$4" 8; le "$5" 4; }
{
  record 00 00 0x3ff0000000000000 0x3fe0000000000000 3                   # 1, 0.5
  record 06 00 0x4004000000000000 0xc004000000000000 0xfffffffd          # 2.5, -2.5
  record 0c 00 0xc020000000000000 0x3fd5555555555555 0x80000000          # -8, 1/3
  record 12 00 0x0000000000000000 0xbfe0000000000000 0xffffffff          # 0, -0.5
  record 00 00 0x3ff000001ad7f29b 0xc1e0000000000000 0x80000000          # 1.0000001, -2^31
  record 00 00 0x41e0000000000000 0xc1e0000000200000 0x7fffffff          # 2^31, -2^31 - 1
} >fuzz_numeric/edges
{
  record 00 00 0xfff8000000000123 0x7ff4000000000001 0                   # NaN, signalling NaN
  record 00 00 0x7ff0000000000000 0xfff0000000000000 1024                # +inf, -inf
  record 00 00 0x40862b7d369a5aa8 0xc0874910d52d3051 0xfffffbce          # 709.436139303104, -745.13
  record 00 00 0x0000000000000001 0x7fe55c576d815726 0xfffff800          # 2^-1074, 1.2e308
  record 00 00 0x0010000000000000 0x7fe6a09e667f3bcd 0xfffffbcd          # 2^-1022, sqrt2 2^1023
} >fuzz_numeric/nan-inf-ends
{
  # Each way of building the arguments once.
  record 01 01 0x0000000000000005 0x00000000fffffff9 0x10                # whole numbers
  record 02 02 0x0100000000000400 0xff000000fffffc00 0x00                # near (k + 1/2) ln2
  record 03 09 0x7fe0000000000000 0x0010000000000000 0x0400              # near sqrt2's significand
  record 04 0a 0x0000000000000064 0x0000000000000001 0x0300              # subnormals
  record 05 17 0x0000000000000500 0x0000000000000300 0x0400              # ends of the ranges
} >fuzz_numeric/kinds
