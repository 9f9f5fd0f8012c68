#include "pulsedevices.h"

#include <QAbstractEventDispatcher>
#include <QDebug>
#include <QThread>
#include <QTimer>

#include <glib.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/glib-mainloop.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>

#include <algorithm>
#include <vector>

namespace {

uint32_t bytesFor(int rate, int ms)
{
    return uint32_t(rate / 1000 * ms * 2);
}

} // namespace

PulseDevices::PulseDevices(Hooks hooks, QObject *parent)
    : QObject(parent), hooks(std::move(hooks))
{
    connectContext();
}

PulseDevices::~PulseDevices()
{
    close(record);
    close(playback);
    if (context) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    if (loop)
        pa_glib_mainloop_free(loop);
}

void PulseDevices::connectContext()
{
    if (!loop) {
        // libpulse's callbacks must run on this thread: its loop is Qt's only when Qt runs on GLib.
        QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(thread());
        if (!dispatcher || !QByteArray(dispatcher->metaObject()->className()).contains("Glib")) {
            failed = true;
            qDebug().noquote() << "!!! Sound server: this thread's event loop is not GLib's; the Qt devices play";
            return;
        }
        loop = pa_glib_mainloop_new(g_main_context_get_thread_default());
    }
    failed = false;
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Sorvanto");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "phone");
    context = pa_context_new_with_proplist(pa_glib_mainloop_get_api(loop), "Sorvanto", props);
    pa_proplist_free(props);
    pa_context_set_state_callback(context, &PulseDevices::onContextState, this);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        contextChanged();
}

void PulseDevices::retry()
{
    if (!failed || !loop)
        return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_unref(context);
    context = nullptr;
    connectContext();
}

bool PulseDevices::usable() const
{
    return !failed;
}

void PulseDevices::onContextState(pa_context *context, void *self)
{
    // The server's replies come through the GLib source that libpulse adds to
    // this thread's loop, made one that may not recurse. For such a source
    // GLib takes its descriptors out of the poll before each dispatch and puts
    // them back after, waking the loop each time: 1,700-2,000 writes to its
    // wake-up descriptor a second in a call, and one turn of the loop in three
    // for nothing. Two 16 kHz streams cost their thread 3 ms a second more
    // for it. Nothing dispatched from it runs a nested loop.
    if (pa_context_get_state(context) == PA_CONTEXT_READY)
        if (GSource *source = g_main_current_source())
            g_source_set_can_recurse(source, TRUE);
    static_cast<PulseDevices *>(self)->contextChanged();
}

void PulseDevices::contextChanged()
{
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        qDebug().noquote() << "!!! Sound server connected:" << pa_context_get_server(context);
        // After the server came back in a call, the speaker starts over: what it plays is heard later than before.
        if (playRate > 0 && hooks.ranDry)
            hooks.ranDry();
        openPending();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
        const bool inCall = captureRate > 0 || playRate > 0;
        if (!failed)
            qWarning().noquote() << QStringLiteral("!!! Sound server: no connection (%1); %2")
                                        .arg(QString::fromUtf8(pa_strerror(pa_context_errno(context))),
                                             inCall ? QStringLiteral("the call's sound comes back with the server")
                                                    : QStringLiteral("the Qt devices play"));
        failed = true;
        // The streams died with the connection. A call under way keeps asking
        // for them, and has them again once the server is back (restarted, or
        // PipeWire's service replaced); the next call otherwise tries again.
        close(record);
        close(playback);
        if (inCall)
            QTimer::singleShot(reconnectMs, this, [this] {
                if (captureRate > 0 || playRate > 0)
                    retry();
            });
        break;
    }
    default:
        break;
    }
}

void PulseDevices::startCapture(int rate)
{
    close(record);
    captureRate = failed ? 0 : rate;
    openPending();
}

void PulseDevices::startPlayback(int rate)
{
    close(playback);
    playRate = failed ? 0 : rate;
    openPending();
}

void PulseDevices::stopCapture()
{
    close(record);
    captureRate = 0;
}

void PulseDevices::stopPlayback()
{
    close(playback);
    playRate = 0;
}

void PulseDevices::openPending()
{
    if (!context || pa_context_get_state(context) != PA_CONTEXT_READY)
        return;
    if (captureRate > 0 && !record)
        record = open(captureRate, true);
    if (playRate > 0 && !playback)
        playback = open(playRate, false);
}

pa_stream *PulseDevices::open(int rate, bool recording)
{
    const pa_sample_spec format{PA_SAMPLE_S16NE, uint32_t(rate), 1};
    pa_stream *stream = pa_stream_new(context, recording ? "Microphone" : "Speaker", &format, nullptr);
    if (!stream) {
        qWarning().noquote() << "!!! Sound server: no stream:" << pa_strerror(pa_context_errno(context));
        return nullptr;
    }
    pa_buffer_attr attr;
    attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = attr.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY);
    int result;
    pa_stream_set_state_callback(stream, &PulseDevices::onStreamState, this);
    if (recording) {
        attr.fragsize = bytesFor(rate, captureFragmentMs);
        pa_stream_set_read_callback(stream, &PulseDevices::onReadable, this);
        result = pa_stream_connect_record(stream, nullptr, &attr, flags);
    } else {
        attr.tlength = bytesFor(rate, playbackQueuedMs);
        attr.minreq = bytesFor(rate, playbackRequestMs);
        pa_stream_set_write_callback(stream, &PulseDevices::onWritable, this);
        pa_stream_set_underflow_callback(stream, &PulseDevices::onUnderflow, this);
        result = pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr);
    }
    if (result < 0) {
        qWarning().noquote() << "!!! Sound server: the" << (recording ? "microphone" : "speaker")
                             << "did not open:" << pa_strerror(pa_context_errno(context));
        pa_stream_unref(stream);
        return nullptr;
    }
    qDebug().noquote() << "!!! Sound server:" << (recording ? "microphone" : "speaker") << "at" << rate << "Hz";
    return stream;
}

void PulseDevices::close(pa_stream *&stream)
{
    if (!stream)
        return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void PulseDevices::onStreamState(pa_stream *stream, void *self)
{
    const char *what = stream == static_cast<PulseDevices *>(self)->record ? "microphone" : "speaker";
    const pa_buffer_attr *attr = pa_stream_get_buffer_attr(stream);
    const pa_sample_spec *format = pa_stream_get_sample_spec(stream);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        // What the server granted, in ms of sound.
        if (attr && format && format->rate > 0) {
            const double ms = 1000.0 / (2.0 * format->rate);
            qDebug().noquote() << "!!! Sound server:" << what << "granted"
                               << (stream == static_cast<PulseDevices *>(self)->record
                                       ? QStringLiteral("blocks of %1 ms").arg(attr->fragsize * ms)
                                       : QStringLiteral("a queue of %1 ms, asked for %2 ms at a time")
                                             .arg(attr->tlength * ms).arg(attr->minreq * ms));
        }
        break;
    case PA_STREAM_FAILED:
        qWarning().noquote() << QStringLiteral("!!! Sound server: the %1 failed (%2)")
                                    .arg(QLatin1String(what),
                                         QString::fromUtf8(pa_strerror(pa_context_errno(pa_stream_get_context(stream)))));
        break;
    default:
        break;
    }
}

void PulseDevices::onReadable(pa_stream *stream, size_t, void *self)
{
    auto *devices = static_cast<PulseDevices *>(self);
    const void *data = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        // Whole samples only; a hole in the recording (no data) is silence of its length.
        const int len = int(std::min<size_t>(bytes, 1 << 20)) & ~1;
        if (data) {
            devices->hooks.captured(static_cast<const char *>(data), len);
        } else {
            const std::vector<char> silence(size_t(len), 0);
            devices->hooks.captured(silence.data(), len);
        }
        pa_stream_drop(stream);
    }
}

void PulseDevices::onWritable(pa_stream *stream, size_t bytes, void *self)
{
    auto *devices = static_cast<PulseDevices *>(self);
    bytes &= ~size_t(1);
    while (bytes > 0) {
        void *buffer = nullptr;
        size_t len = bytes;
        if (pa_stream_begin_write(stream, &buffer, &len) < 0 || !buffer)
            return;
        len = std::min(len, bytes) & ~size_t(1);
        if (len == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        devices->hooks.fill(static_cast<qint16 *>(buffer), int(len / 2));
        if (pa_stream_write(stream, buffer, len, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= len;
    }
}

void PulseDevices::onUnderflow(pa_stream *, void *self)
{
    qDebug().noquote() << "!!! Sound server: the speaker ran dry";
    static_cast<PulseDevices *>(self)->hooks.ranDry();
}
