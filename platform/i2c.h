/* I2C access: write address bytes to a device, then read from it. */
#ifndef KVT_PLATFORM_I2C_H
#define KVT_PLATFORM_I2C_H

#ifdef __cplusplus
extern "C" {
#endif

/* 0 on success; otherwise non-zero with errno set. */
int i2c_writeread(int device, const unsigned char *write_buf, unsigned char *read_buf,
                  int write_len, int read_len);

#ifdef __cplusplus
}
#endif

#endif
