// Default options of the sanitizer runtimes, linked into every program of the sanitized build.
// Built in rather than passed through the environment, because the integration harness starts
// the program with a clean environment and a report must stop it wherever it runs.
extern "C" {

__attribute__((visibility("default"), used)) const char* __asan_default_options() {
  // GCC's runtime is a shared library; the password tests preload pam_wrapper ahead of it.
  return "detect_stack_use_after_return=1:verify_asan_link_order=0";
}

__attribute__((visibility("default"), used)) const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

__attribute__((visibility("default"), used)) const char* __lsan_default_options() {
  return "suppressions=" TOVAMI_LSAN_SUPPRESSIONS;
}

}  // extern "C"
