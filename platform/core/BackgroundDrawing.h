#pragma once

namespace corvex {

// Drawing done off the main thread (the emoji catalogue's images, overview tiles, PDF pages,
// the web export's preview) uses fonts, glyph caches and image formats that go with the
// application object and the static state. Each such piece of work holds a Job while it
// draws; stopAndWait, run on every road out of the application, stops the jobs at their next
// check and waits until none draws any more. From then on no job is admitted. Any thread.
class BackgroundDrawing
{
public:
    class Job
    {
    public:
        Job();
        ~Job();
        Job(const Job&) = delete;
        Job& operator=(const Job&) = delete;

        // False once the drawing is over for this process: the job draws nothing then.
        bool admitted() const { return mAdmitted; }
        // For work done in pieces (one icon, one page): whether to stop before the next.
        static bool shouldStop();

    private:
        bool mAdmitted = false;
    };

    // Stops every job and waits for them, however long the piece each is drawing takes.
    static void stopAndWait();
    // How many jobs draw now.
    static int running();
};

} // namespace corvex
