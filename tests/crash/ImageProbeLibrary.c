/* A library the image-table test loads and unloads: one function whose address it looks up. */

int corvexCrashImageProbe(int value)
{
    return value * 3 + 1;
}
