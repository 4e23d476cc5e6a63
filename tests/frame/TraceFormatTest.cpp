// Trace texts are checked against their arguments when they are compiled: these are
// compile-time rows; a wrong one fails the build of this file.
#include <string>

#include "base/TraceFormat.h"

namespace {

using es::PassedAlong;
using es::trace_format::Agrees;
using es::trace_format::Kinds;
using Text = const char16_t*;

template <typename... Args, typename Char>
consteval bool Fits(const Char* format) {
  return Agrees(format, Kinds<Args...>::values, static_cast<int>(sizeof...(Args)), false);
}

static_assert(Fits<Text, int>(u"%s holds %d images"));
static_assert(Fits<std::u16string>(u"'%s'"));
static_assert(Fits<>(u"100%% done"));
static_assert(Fits<int, Text>(u"%-4d|%*s") == false, "a '*' width reads an int first");
static_assert(Fits<int, int, Text>(u"%-4d|%*s"));
static_assert(Fits<int, Text, Text>(u"%s then %1!d! then %s"), "printf inserts take the numbers left free");
static_assert(Fits<unsigned long, const char*, unsigned long>(u"%1!08lx!|%2!hs!|%3!lu!"));
static_assert(Fits<unsigned, int>(u"%u bytes of %x"), "hexadecimal reads signed and unsigned alike");
static_assert(Fits<Text>("Cannot read replacement pdf image %s"), "%s reads UTF-16 in narrow texts too");
static_assert(Fits<PassedAlong<Text>>("Cannot read file content "));

static_assert(!Fits<int>(u"%s"), "an int where a text is read");
static_assert(!Fits<Text>(u"%d"), "a text where an int is read");
static_assert(!Fits<long>(u"%d"), "long where int is read: a C argument list would misread it");
static_assert(!Fits<Text, Text>(u"%s"), "an argument no insert reads");
static_assert(!Fits<Text>(u"%s %s"), "an insert without its argument");
static_assert(!Fits<double>(u"%f"), "no floating point in trace texts");
static_assert(!Fits<PassedAlong<Text>, Text>(u"%s"), "what is passed along comes last");

}  // namespace
