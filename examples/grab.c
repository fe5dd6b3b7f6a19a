/* Grabs one frame from a camera and writes it as a PPM picture.
 *
 *     bayercam-grab [SELECTOR [FILE]]     (default: sim, frame.ppm)
 */
#include <bayercam/bayercam.h>
#include <stdio.h>

static int fail(const char *what, bayercam_camera *cam) {
    fprintf(stderr, "bayercam-grab: %s: %s\n", what, bayercam_last_error(cam));
    bayercam_close(cam);
    return 1;
}

int main(int argc, char **argv) {
    const char *selector = argc > 1 ? argv[1] : "sim";
    const char *path = argc > 2 ? argv[2] : "frame.ppm";
    bayercam_camera *cam = NULL;
    if (bayercam_open(selector, NULL, &cam) != 0) return fail("open", NULL);
    if (bayercam_start(cam) != 0) return fail("start", cam);
    bayercam_frame *frame = NULL;
    if (bayercam_next_frame(cam, 5000, &frame) != 0) return fail("frame", cam);

    FILE *out = fopen(path, "wb");
    if (!out) {
        perror(path);
        bayercam_release_frame(cam, frame);
        bayercam_close(cam);
        return 1;
    }
    fprintf(out, "P6\n%u %u\n255\n", (unsigned)frame->width, (unsigned)frame->height);
    for (uint32_t y = 0; y < frame->height; ++y) {
        const uint8_t *row = frame->data + (size_t)y * (size_t)frame->stride;
        for (uint32_t x = 0; x < frame->width; ++x) {
            const uint8_t *bgra = row + 4 * (size_t)x;
            const uint8_t rgb[3] = {bgra[2], bgra[1], bgra[0]};
            fwrite(rgb, 1, 3, out);
        }
    }
    int written = fclose(out) == 0;
    printf("%s: %ux%u, frame %llu\n", path, (unsigned)frame->width, (unsigned)frame->height,
           (unsigned long long)frame->sequence);
    bayercam_release_frame(cam, frame);
    bayercam_close(cam);
    return written ? 0 : 1;
}
