#include <iconv.h>

#include <cstring>
#include <stdexcept>

#include "tests/support/shift_jis.h"

namespace kivom_test {

std::string ShiftJisFromUtf8(const char8_t* utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 converter");
  std::string in(reinterpret_cast<const char*>(utf8));
  std::string out(in.size() * 2 + 4, '\0');
  char* src = in.data();
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  const size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) throw std::runtime_error("text has no Shift-JIS form");
  out.resize(out.size() - dstLeft);
  return out;
}

}  // namespace kivom_test
