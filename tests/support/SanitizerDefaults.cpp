// Sanitizer settings every test and fuzz executable needs, linked in as an object so that
// the sanitizer runtime finds them: the tree runs the same with nothing in the environment
// (ASAN_OPTIONS and UBSAN_OPTIONS, when set, still win).

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// Fontconfig keeps a small cache past QGuiApplication's end (not ours to free), and
// LeakSanitizer's tracer crashes on exit in processes that loaded Qt plugins unless TLS
// interception is off (clang 14 with glibc).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
// A finding stops the process at once with a stack, and leaks count.
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0:detect_leaks=1:abort_on_error=1:strict_string_checks=1";
}
extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
#endif
#endif
