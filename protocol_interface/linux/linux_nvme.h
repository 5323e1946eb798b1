/*
 * The NVMe transport, through the Linux NVMe pass-through requests.
 */
#ifndef LINUX_NVME_H
#define LINUX_NVME_H

#include "../protocol_type.h"

/* Registers the nvme operation table under SELECT_NVME_TYPE. */
void register_nvme(void);

#endif /* LINUX_NVME_H */
