/* The library the symbol probe opens with dlopen and crashes in: built with -g, loaded
   from a stripped copy, and never loaded by the run that names the crash's frames. */

volatile int* gCorvexSymbolLibraryNull = 0;
volatile int gCorvexSymbolLibrarySink = 0;

__attribute__((noinline)) void corvex_symbol_library_crash(int depth)
{
    *gCorvexSymbolLibraryNull = depth;
    gCorvexSymbolLibrarySink = 2;
}
