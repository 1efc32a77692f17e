// Sanitizer settings every test and fuzz executable needs, linked in as an object so that
// the sanitizer runtime finds them.

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// Fontconfig keeps a small cache past QGuiApplication's end (not ours to free), and
// LeakSanitizer's tracer crashes on exit in processes that loaded Qt plugins unless TLS
// interception is off (clang 14 with glibc).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
#endif
#endif
