/* uxfer_info: a small C client of uXfer.dll.
 *
 * Counts the devices present, opens the first one, shows its status block
 * and the first 16 words of device memory.
 *
 *   uxfer_info [instance]
 *
 * Exit code 0 on success, 2 when no device can be opened, 3 when a request
 * fails. */
#include <stdio.h>
#include <stdlib.h>

#include <uXfer.h>

/* Device memory is 16-bit words; a read asks for bytes on the pipe, which the
 * device counts in units of 4 bytes. */
#define WORDS 16u
#define UNIT_SIZE 4u

static void print_bytes(const char *label, const unsigned char *bytes, unsigned count)
{
    unsigned i;
    printf("%s:", label);
    for (i = 0; i < count; i++)
        printf(" %02X", bytes[i]);
    printf("\n");
}

int main(int argc, char **argv)
{
    uint32_t instance = argc > 1 ? (uint32_t)strtoul(argv[1], NULL, 0) : 0;
    unsigned char status[8] = {0};
    unsigned char words[2 * WORDS] = {0};
    uint32_t count = 0;
    uint32_t result;
    TransferDesc desc = {0};

    printf("devices present: %u\n", (unsigned)uEnumeInstances());

    /* The instance index is shared by every process using the library. */
    uSetInstance(instance);
    result = uCreate(OPEN_ALL);
    if (result != RESULT_OK) {
        printf("opening instance %u failed: 0x%08X\n", (unsigned)instance, (unsigned)result);
        return 2;
    }

    result = uGetStatus(status, &count);
    if (result != RESULT_OK) {
        printf("status request failed: 0x%08X\n", (unsigned)result);
        uClose();
        return 3;
    }
    print_bytes("status", status, 8);

    /* Word address 0: the descriptor carries byte addresses (twice the word
     * address) and the byte count on the pipe. */
    desc.address = 0;
    desc.length = sizeof words;
    desc.unitSize = UNIT_SIZE;
    desc.cmdValue = 1;
    desc.cmdIndex = 0;
    result = uXferRead(&desc, words, &count);
    if (result != RESULT_OK) {
        printf("read failed: 0x%08X\n", (unsigned)result);
        uClose();
        return 3;
    }
    print_bytes("memory", words, count < sizeof words ? count : sizeof words);

    uClose();
    printf("uxfer_info: done\n");
    return 0;
}
