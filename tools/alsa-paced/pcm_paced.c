/* A software sound card for tests: an ALSA external PCM whose hardware pointer advances with
 * CLOCK_MONOTONIC at the stream's rate (times "speed"), woken by a timerfd once per period.
 * Capture delivers the raw samples of "infile" (silence after its end); playback writes what is
 * played to "outfile". An application that falls behind by more than the buffer gets -EPIPE, as
 * on hardware. With "lockfile" the device takes one opener at a time, as a sound card does: a
 * second open gets -EBUSY while the first is open (an exclusive flock on that file). */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
    snd_pcm_ioplug_t io;
    int timer_fd;
    int data_fd;
    int lock_fd;
    char* infile;
    char* outfile;
    double speed;
    int running;
    struct timespec started;
    snd_pcm_uframes_t base; /* hardware position when the stream started */
    snd_pcm_uframes_t hw;   /* last reported position */
    unsigned int frame_bytes;
} paced_t;

static uint64_t elapsed_ns(const struct timespec* since) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)(now.tv_sec - since->tv_sec) * 1000000000ull + (uint64_t)now.tv_nsec -
           (uint64_t)since->tv_nsec;
}

static void arm_timer(paced_t* p, int on) {
    struct itimerspec spec;
    memset(&spec, 0, sizeof spec);
    if (on) {
        double seconds = (double)p->io.period_size / ((double)p->io.rate * p->speed);
        uint64_t ns = (uint64_t)(seconds * 1e9);
        if (ns == 0) ns = 1;
        spec.it_interval.tv_sec = (time_t)(ns / 1000000000ull);
        spec.it_interval.tv_nsec = (long)(ns % 1000000000ull);
        spec.it_value = spec.it_interval;
    }
    timerfd_settime(p->timer_fd, 0, &spec, NULL);
}

static snd_pcm_sframes_t paced_pointer(snd_pcm_ioplug_t* io) {
    paced_t* p = io->private_data;
    if (!p->running) return (snd_pcm_sframes_t)p->hw;
    uint64_t frames = (uint64_t)((double)elapsed_ns(&p->started) * io->rate * p->speed / 1e9);
    snd_pcm_uframes_t hw = p->base + (snd_pcm_uframes_t)frames;
    if (io->stream == SND_PCM_STREAM_CAPTURE) {
        if (hw > io->appl_ptr + io->buffer_size) return -EPIPE;
    } else if (hw > io->appl_ptr) {
        return -EPIPE;
    }
    p->hw = hw;
    return (snd_pcm_sframes_t)hw;
}

static int paced_start(snd_pcm_ioplug_t* io) {
    paced_t* p = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &p->started);
    p->base = p->hw;
    p->running = 1;
    arm_timer(p, 1);
    return 0;
}

static int paced_stop(snd_pcm_ioplug_t* io) {
    paced_t* p = io->private_data;
    p->running = 0;
    arm_timer(p, 0);
    return 0;
}

static int paced_prepare(snd_pcm_ioplug_t* io) {
    paced_t* p = io->private_data;
    p->running = 0;
    p->hw = 0;
    p->base = 0;
    arm_timer(p, 0);
    return 0;
}

static int paced_hw_params(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t* params) {
    paced_t* p = io->private_data;
    (void)params;
    p->frame_bytes = (unsigned)(snd_pcm_format_physical_width(io->format) / 8) * io->channels;
    if (p->data_fd >= 0) close(p->data_fd);
    p->data_fd = -1;
    if (io->stream == SND_PCM_STREAM_CAPTURE) {
        if (p->infile != NULL) p->data_fd = open(p->infile, O_RDONLY | O_CLOEXEC);
    } else if (p->outfile != NULL) {
        p->data_fd = open(p->outfile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    return 0;
}

static snd_pcm_sframes_t paced_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                        snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    paced_t* p = io->private_data;
    char* buf = (char*)areas[0].addr + (areas[0].first + areas[0].step * offset) / 8;
    size_t bytes = size * p->frame_bytes;
    if (io->stream == SND_PCM_STREAM_CAPTURE) {
        size_t got = 0;
        while (p->data_fd >= 0 && got < bytes) {
            ssize_t n = read(p->data_fd, buf + got, bytes - got);
            if (n <= 0) break;
            got += (size_t)n;
        }
        if (got < bytes) {
            int silence = io->format == SND_PCM_FORMAT_U8 ? 0x80 : 0;
            memset(buf + got, silence, bytes - got);
        }
    } else if (p->data_fd >= 0) {
        size_t done = 0;
        while (done < bytes) {
            ssize_t n = write(p->data_fd, buf + done, bytes - done);
            if (n <= 0) break;
            done += (size_t)n;
        }
    }
    return (snd_pcm_sframes_t)size;
}

static int paced_poll_revents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds,
                              unsigned short* revents) {
    paced_t* p = io->private_data;
    uint64_t expirations;
    (void)nfds;
    *revents = 0;
    if (pfd[0].revents & POLLIN) {
        ssize_t n = read(p->timer_fd, &expirations, sizeof expirations);
        (void)n;
    }
    snd_pcm_sframes_t hw = paced_pointer(io);
    if (hw < 0) {
        *revents = io->stream == SND_PCM_STREAM_CAPTURE ? POLLIN : POLLOUT;
        return 0;
    }
    snd_pcm_uframes_t avail = snd_pcm_ioplug_avail(io, (snd_pcm_uframes_t)hw, io->appl_ptr);
    if (avail >= io->period_size)
        *revents = io->stream == SND_PCM_STREAM_CAPTURE ? POLLIN : POLLOUT;
    return 0;
}

static int paced_close(snd_pcm_ioplug_t* io) {
    paced_t* p = io->private_data;
    if (p->timer_fd >= 0) close(p->timer_fd);
    if (p->data_fd >= 0) close(p->data_fd);
    if (p->lock_fd >= 0) close(p->lock_fd);
    free(p->infile);
    free(p->outfile);
    free(p);
    return 0;
}

static const snd_pcm_ioplug_callback_t paced_callback = {
    .start = paced_start,
    .stop = paced_stop,
    .pointer = paced_pointer,
    .transfer = paced_transfer,
    .close = paced_close,
    .hw_params = paced_hw_params,
    .prepare = paced_prepare,
    .poll_revents = paced_poll_revents,
};

static int set_constraints(snd_pcm_ioplug_t* io) {
    static const unsigned int access_list[] = {SND_PCM_ACCESS_RW_INTERLEAVED,
                                               SND_PCM_ACCESS_MMAP_INTERLEAVED};
    static const unsigned int format_list[] = {SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_U8};
    int err;
    if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 2, access_list)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 2, format_list)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 4000, 96000)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64,
                                               256 * 1024)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0)
        return err;
    return 0;
}

SND_PCM_PLUGIN_DEFINE_FUNC(vexapaced) {
    snd_config_iterator_t i, next;
    const char* infile = NULL;
    const char* outfile = NULL;
    const char* lockfile = NULL;
    double speed = 1.0;
    (void)root;
    snd_config_for_each(i, next, conf) {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(n, &id) < 0) continue;
        if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0)
            continue;
        if (strcmp(id, "infile") == 0) {
            if (snd_config_get_string(n, &infile) < 0) return -EINVAL;
        } else if (strcmp(id, "outfile") == 0) {
            if (snd_config_get_string(n, &outfile) < 0) return -EINVAL;
        } else if (strcmp(id, "lockfile") == 0) {
            if (snd_config_get_string(n, &lockfile) < 0) return -EINVAL;
        } else if (strcmp(id, "speed") == 0) {
            if (snd_config_get_ireal(n, &speed) < 0 || speed <= 0) return -EINVAL;
        } else {
            SNDERR("Unknown field %s", id);
            return -EINVAL;
        }
    }

    paced_t* p = calloc(1, sizeof *p);
    if (p == NULL) return -ENOMEM;
    p->io.private_data = p;
    p->data_fd = -1;
    p->lock_fd = -1;
    p->speed = speed;
    p->infile = infile != NULL ? strdup(infile) : NULL;
    p->outfile = outfile != NULL ? strdup(outfile) : NULL;
    p->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (p->timer_fd < 0) {
        int err = -errno;
        paced_close(&p->io);
        return err;
    }
    if (lockfile != NULL) {
        p->lock_fd = open(lockfile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (p->lock_fd < 0 || flock(p->lock_fd, LOCK_EX | LOCK_NB) < 0) {
            int err = p->lock_fd < 0 ? -errno : -EBUSY;
            paced_close(&p->io);
            return err;
        }
    }
    p->io.version = SND_PCM_IOPLUG_VERSION;
    p->io.name = "Vexa paced test device";
    p->io.callback = &paced_callback;
    p->io.private_data = p;
    p->io.poll_fd = p->timer_fd;
    p->io.poll_events = POLLIN;
    p->io.mmap_rw = 0;
    p->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;

    int err = snd_pcm_ioplug_create(&p->io, name, stream, mode);
    if (err < 0) {
        paced_close(&p->io);
        return err;
    }
    err = set_constraints(&p->io);
    if (err < 0) {
        snd_pcm_ioplug_delete(&p->io);
        return err;
    }
    *pcmp = p->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(vexapaced);
