#ifndef PULSEDEVICES_H
#define PULSEDEVICES_H

// The sound server's default microphone and speaker, driven by libpulse on the
// GLib main context of the thread that makes this object (Qt's event loop
// there): no client thread of its own, no lock handed to and fro each period.
// The microphone delivers every 10 ms, one canceller block; the speaker runs
// 30 ms behind what it is given (its queue and the device's own latency) and
// asks again each 10 ms. The capture path takes what is
// recorded; the speaker is filled from the playback path, and a speaker that
// ran dry is reported.
//
// The connection to the server is made at once and in the background; a
// stream asked for before it is up opens when it is. Where no server answers
// (a bare ALSA machine) or the thread's loop is not GLib's, usable() is false
// and the caller keeps to the Qt devices until retry() finds a server. A
// server that goes away during a call is sought again every second, and the
// call's streams open again when it answers.

#include <QObject>

#include <functional>

struct pa_context;
struct pa_glib_mainloop;
struct pa_stream;

class PulseDevices : public QObject
{
    Q_OBJECT

public:
    static constexpr int captureFragmentMs = 10;
    static constexpr int playbackQueuedMs = 30;
    static constexpr int playbackRequestMs = 10;
    // How often a call whose server went away tries to reach it again.
    static constexpr int reconnectMs = 1000;

    struct Hooks
    {
        std::function<void(const char *data, int len)> captured;  // 16-bit mono, as recorded
        std::function<void(qint16 *out, int count)> fill;          // the speaker's next samples
        std::function<void()> ranDry;
    };

    explicit PulseDevices(Hooks hooks, QObject *parent = nullptr);
    ~PulseDevices() override;

    // Connected or connecting; false once the server refused or went away.
    bool usable() const;
    // Connects again after the server refused or went away (it may have
    // started since); usable() until that fails too.
    void retry();
    void startCapture(int rate);
    void startPlayback(int rate);
    void stopCapture();
    void stopPlayback();
    bool playing() const { return playRate > 0; }

private:
    void connectContext();
    void contextChanged();
    void openPending();
    pa_stream *open(int rate, bool record);
    void close(pa_stream *&stream);
    static void onContextState(pa_context *context, void *self);
    static void onStreamState(pa_stream *stream, void *self);
    static void onReadable(pa_stream *stream, size_t bytes, void *self);
    static void onWritable(pa_stream *stream, size_t bytes, void *self);
    static void onUnderflow(pa_stream *stream, void *self);

    Hooks hooks;
    pa_glib_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *record = nullptr;
    pa_stream *playback = nullptr;
    int captureRate = 0;   // asked for, 0: none
    int playRate = 0;
    bool failed = false;
};

#endif // PULSEDEVICES_H
