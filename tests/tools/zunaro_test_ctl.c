/* ALSA plugins of the voice tests.
 *
 * The control plugin: each card offers one "<element> Playback Volume"
 * (card "switch_card" a "Master Playback Switch" without volume instead; card "broken_card"
 * fails to list its controls). Card N keeps its channel values in the text file
 * "<state>.N", so they outlive each open and the tests can set and check them:
 *
 *   ctl_type.zunaro_test { lib "/path/to/this.so" }
 *   ctl.hw { @args [ CARD ] @args.CARD { type string default "0" }
 *            type zunaro_test card $CARD cards 2 state "/tmp/x/master" max 65535 }
 *
 * Further fields: min, channels (2), element ("Master").
 *
 * The PCM plugin: a playback device that plays what it is given at "speed" percent of real
 * time, appending the samples to "file" when one is named; speed 0 (the default) takes one
 * buffer and then stalls, never becoming ready (a sound server that hangs); "fail_after N"
 * makes it vanish (ENODEV) once N frames have been given:
 *
 *   pcm_type.zunaro_test { lib "/path/to/this.so" }
 *   pcm.!default { type zunaro_test speed 100 file "/tmp/x/played.raw" } */

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <alsa/asoundlib.h>
#include <alsa/control_external.h>
#include <alsa/pcm_external.h>
#include <unistd.h>

struct test_ctl
{
    snd_ctl_ext_t ext;
    char state[4096];
    char element[64];
    long minimum, maximum, values[8];
    int channels, is_switch, broken;
};

static int test_elem_count(snd_ctl_ext_t* ext)
{
    (void)ext;
    return 1;
}

static int test_elem_list(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id)
{
    struct test_ctl* ctl = ext->private_data;
    if (offset != 0 || ctl->broken) {
        return -EIO;
    }
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, ctl->element);
    return 0;
}

static snd_ctl_ext_key_t test_find_elem(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id)
{
    struct test_ctl* ctl = ext->private_data;
    return strcmp(snd_ctl_elem_id_get_name(id), ctl->element) == 0 ? 0 : SND_CTL_EXT_KEY_NOT_FOUND;
}

static int test_get_attribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type,
                              unsigned int* acc, unsigned int* count)
{
    struct test_ctl* ctl = ext->private_data;
    (void)key;
    *type = ctl->is_switch ? SND_CTL_ELEM_TYPE_BOOLEAN : SND_CTL_ELEM_TYPE_INTEGER;
    *acc = SND_CTL_EXT_ACCESS_READWRITE;
    *count = (unsigned int)ctl->channels;
    return 0;
}

static int test_get_integer_info(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* imin, long* imax,
                                 long* istep)
{
    struct test_ctl* ctl = ext->private_data;
    (void)key;
    *imin = ctl->is_switch ? 0 : ctl->minimum;
    *imax = ctl->is_switch ? 1 : ctl->maximum;
    *istep = 0;
    return 0;
}

static int test_read_integer(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value)
{
    struct test_ctl* ctl = ext->private_data;
    FILE* file = fopen(ctl->state, "r");
    (void)key;
    for (int i = 0; file && i < ctl->channels && fscanf(file, "%ld", &ctl->values[i]) == 1; ++i) {
    }
    if (file) {
        fclose(file);
    }
    memcpy(value, ctl->values, sizeof(long) * (size_t)ctl->channels);
    return 0;
}

static int test_write_integer(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value)
{
    struct test_ctl* ctl = ext->private_data;
    FILE* file = fopen(ctl->state, "w");
    (void)key;
    if (!file) {
        return -errno;
    }
    for (int i = 0; i < ctl->channels; ++i) {
        fprintf(file, i ? " %ld" : "%ld", value[i]);
    }
    fputc('\n', file);
    memcpy(ctl->values, value, sizeof(long) * (size_t)ctl->channels);
    return fclose(file) == 0 ? 1 : -EIO;
}

static int test_read_event(snd_ctl_ext_t* ext, snd_ctl_elem_id_t* id, unsigned int* event_mask)
{
    (void)ext, (void)id, (void)event_mask;
    return -EAGAIN;
}

static void test_close(snd_ctl_ext_t* ext)
{
    free(ext->private_data);
}

static const snd_ctl_ext_callback_t test_callback = {
    .close = test_close,
    .elem_count = test_elem_count,
    .elem_list = test_elem_list,
    .find_elem = test_find_elem,
    .get_attribute = test_get_attribute,
    .get_integer_info = test_get_integer_info,
    .read_integer = test_read_integer,
    .write_integer = test_write_integer,
    .read_event = test_read_event,
};

/* A number given as an integer or as a string ("hw:1" hands the card over as text). */
static long config_long(snd_config_t* node)
{
    long value = -1;
    const char* text = NULL;
    if (snd_config_get_integer(node, &value) < 0 && snd_config_get_string(node, &text) == 0) {
        value = strtol(text, NULL, 10);
    }
    return value;
}

SND_CTL_PLUGIN_DEFINE_FUNC(zunaro_test)
{
    long card = 0, cards = 1, minimum = 0, maximum = 65535, channels = 2, switch_card = -1,
         broken_card = -1;
    const char *state = NULL, *element = "Master";
    snd_config_iterator_t i, next;
    (void)root;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id = "";
        snd_config_get_id(node, &id);
        long* number = !strcmp(id, "card")          ? &card
                       : !strcmp(id, "cards")       ? &cards
                       : !strcmp(id, "min")         ? &minimum
                       : !strcmp(id, "max")         ? &maximum
                       : !strcmp(id, "channels")    ? &channels
                       : !strcmp(id, "switch_card") ? &switch_card
                       : !strcmp(id, "broken_card") ? &broken_card
                                                    : NULL;
        if (number) {
            *number = config_long(node);
        } else if (!strcmp(id, "state")) {
            snd_config_get_string(node, &state);
        } else if (!strcmp(id, "element")) {
            snd_config_get_string(node, &element);
        }
    }
    if (!state || card < 0 || card >= cards || cards > 8 || channels < 1 || channels > 8) {
        return -ENODEV;
    }
    struct test_ctl* ctl = calloc(1, sizeof *ctl);
    if (!ctl) {
        return -ENOMEM;
    }
    snprintf(ctl->state, sizeof ctl->state, "%s.%ld", state, card);
    ctl->is_switch = card == switch_card;
    ctl->broken = card == broken_card;
    snprintf(ctl->element, sizeof ctl->element, "%s Playback %s", element,
             ctl->is_switch ? "Switch" : "Volume");
    ctl->minimum = minimum;
    ctl->maximum = maximum;
    ctl->channels = (int)channels;
    ctl->ext.version = SND_CTL_EXT_VERSION;
    ctl->ext.card_idx = (int)card;
    snprintf(ctl->ext.id, sizeof ctl->ext.id, "Test%d", (int)card);
    snprintf(ctl->ext.name, sizeof ctl->ext.name, "Test card %d", (int)card);
    ctl->ext.poll_fd = -1;
    ctl->ext.callback = &test_callback;
    ctl->ext.private_data = ctl;
    const int err = snd_ctl_ext_create(&ctl->ext, name, mode);
    if (err < 0) {
        free(ctl);
        return err;
    }
    *handlep = ctl->ext.handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(zunaro_test);

struct test_pcm
{
    snd_pcm_ioplug_t io;
    long speed, fail_after;
    int file;                  /* -1 without a file */
    int pipe[2];               /* its read end never becomes readable */
    snd_pcm_uframes_t written; /* frames taken since prepare */
    double played, last;       /* frames played since prepare; time of the last look */
};

static double now_seconds(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static int test_pcm_prepare(snd_pcm_ioplug_t* io)
{
    struct test_pcm* pcm = io->private_data;
    pcm->written = 0;
    pcm->played = 0;
    return 0;
}

static int test_pcm_start(snd_pcm_ioplug_t* io)
{
    ((struct test_pcm*)io->private_data)->last = now_seconds();
    return 0;
}

static int test_pcm_stop(snd_pcm_ioplug_t* io)
{
    (void)io;
    return 0;
}

/* Plays on by the time passed, never beyond what it was given. */
static snd_pcm_sframes_t test_pcm_pointer(snd_pcm_ioplug_t* io)
{
    struct test_pcm* pcm = io->private_data;
    const double now = now_seconds();
    pcm->played += (now - pcm->last) * io->rate * (double)pcm->speed / 100;
    pcm->last = now;
    if (pcm->played > (double)pcm->written) {
        pcm->played = (double)pcm->written;
    }
    return (snd_pcm_sframes_t)((snd_pcm_uframes_t)pcm->played % io->buffer_size);
}

static snd_pcm_sframes_t test_pcm_transfer(snd_pcm_ioplug_t* io,
                                           const snd_pcm_channel_area_t* areas,
                                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    struct test_pcm* pcm = io->private_data;
    const size_t frame = io->channels * 2;
    if (pcm->fail_after >= 0 && pcm->written + size > (snd_pcm_uframes_t)pcm->fail_after) {
        return -ENODEV;
    }
    if (pcm->file >= 0 &&
        write(pcm->file, (const char*)areas[0].addr + areas[0].first / 8 + offset * frame,
              size * frame) != (ssize_t)(size * frame)) {
        return -EIO;
    }
    pcm->written += size;
    return (snd_pcm_sframes_t)size;
}

static int test_pcm_close(snd_pcm_ioplug_t* io)
{
    struct test_pcm* pcm = io->private_data;
    close(pcm->pipe[0]);
    close(pcm->pipe[1]);
    if (pcm->file >= 0) {
        close(pcm->file);
    }
    free(pcm);
    return 0;
}

static const snd_pcm_ioplug_callback_t test_pcm_callback = {
    .start = test_pcm_start,
    .stop = test_pcm_stop,
    .pointer = test_pcm_pointer,
    .transfer = test_pcm_transfer,
    .close = test_pcm_close,
    .prepare = test_pcm_prepare,
};

SND_PCM_PLUGIN_DEFINE_FUNC(zunaro_test)
{
    static const unsigned int access = SND_PCM_ACCESS_RW_INTERLEAVED, format = SND_PCM_FORMAT_S16;
    long speed = 0, fail_after = -1;
    const char* file = NULL;
    snd_config_iterator_t i, next;
    (void)root;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id = "";
        snd_config_get_id(node, &id);
        if (!strcmp(id, "speed") || !strcmp(id, "fail_after")) {
            *(!strcmp(id, "speed") ? &speed : &fail_after) = config_long(node);
        } else if (!strcmp(id, "file")) {
            snd_config_get_string(node, &file);
        }
    }
    if (stream != SND_PCM_STREAM_PLAYBACK || speed < 0) {
        return -EINVAL;
    }
    struct test_pcm* pcm = calloc(1, sizeof *pcm);
    if (!pcm || pipe(pcm->pipe) < 0) {
        free(pcm);
        return -ENOMEM;
    }
    pcm->speed = speed;
    pcm->fail_after = fail_after;
    pcm->file = file ? open(file, O_WRONLY | O_CREAT | O_APPEND, 0600) : -1;
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "Test playback device";
    pcm->io.poll_fd = pcm->pipe[0];
    pcm->io.poll_events = POLLIN;
    pcm->io.callback = &test_pcm_callback;
    pcm->io.private_data = pcm;
    int err = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (err < 0) {
        test_pcm_close(&pcm->io);
        return err;
    }
    if ((err = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 1, &access)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, 1, &format)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 8)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000)) <
            0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64,
                                               1 << 20)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0) {
        snd_pcm_ioplug_delete(&pcm->io);
        return err;
    }
    *pcmp = pcm->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(zunaro_test);
