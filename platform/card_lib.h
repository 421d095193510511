/* Card library: the card image, card I/O, the section checksum, the
 * validator, the daemon's persisted states and the persisted variables. */
#ifndef KVT_PLATFORM_CARD_LIB_H
#define KVT_PLATFORM_CARD_LIB_H

#include <stddef.h>

#define KVT_IMAGE_SIZE 1832
#define NV_FILE_TABLE_ROWS 51

#ifdef __cplusplus
extern "C" {
#endif

/* The layout of the record is defined in card/image.hpp. */
struct kvt_image_t;

/* The one card image, exported by the card library and used in place. */
extern struct kvt_image_t kvt_image;

/* Fills `image` (always &kvt_image) with `len` bytes of the card.
 * Negative on failure. */
int read_in_KVT(void *image, int len);

/* Writes `len` bytes taken from `data`, a pointer into kvt_image, to the
 * card at the same image offset. Negative on failure, with errno set. */
int write_out_KVT(const void *data, int len);

/* Stores the one-byte checksum of `len` bytes at `data` through `cksum`. */
void calculate_xor_checksum(const void *data, int len, unsigned char *cksum);

/* Non-zero when the image copy is acceptable for the platform code: version
 * 0x0B and nine right checksums. */
int valid_KVT(const void *image_copy, int platform);

/* The verdict on the card, with its reason in words. A copy of the card's
 * image as the library last read or wrote it is judged with the library's
 * record of its own writes as well, which refuses a card that one of them,
 * cut off, left half written; any other image by valid_KVT's rule alone. */
struct kvt_card_verdict {
    int valid;         /* non-zero when the card is accepted */
    char reason[96];   /* "card valid", "card invalid: checksum wrong in sections 4, 6", ... */
    char warning[160]; /* empty, or what an accepted card's record says is amiss */
};
/* 0, with *verdict filled; -1 for a null argument. */
int describe_KVT(const void *image_copy, int platform, struct kvt_card_verdict *verdict);

/* The card as read_in_KVT last read it, as a dump of the whole part: the
 * image and whatever else the verdict looked at (the library's records)
 * where the card holds them, 0xFF where the read did not reach. Fills at
 * most `size` bytes of `part` and returns the part's size; -1 when nothing
 * was read or `size` is smaller than the part. */
int card_as_read_KVT(void *part, int size);
/* The largest part a card carries: a buffer of this size takes any card. */
#define KVT_LARGEST_PART 65536

int kvtd_is_shutdown(void);
int kvtd_is_moved(void);
void set_kvtd_state_initializing(void);
void set_kvtd_state_running(void);
void set_kvtd_state_shutdown(void);
void set_kvtd_state_moved(const char *state);

/* One row of the persisted-variable table: 16 bytes whatever the pointer
 * width; the daemon reads only `name`. */
struct nv_file_entry {
    const char *name;
    char reserved[16 - sizeof(const char *)];
};

extern struct nv_file_entry nv_file_table[NV_FILE_TABLE_ROWS];

/* 0 on success with a newly allocated text in *value, released with free(). */
int nvval_get(const char *name, char **value);

#ifdef __cplusplus
}
#endif

#endif
