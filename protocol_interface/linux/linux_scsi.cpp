/*
 * The SCSI transport's operation table. Its operations are not built yet:
 * each one answers "not supported" so that a caller never mistakes it for
 * success.
 */
#include "linux_scsi.h"

#include "../protocol_interface.h"

static PROTOCOL_FUNC_S scsi = {
    SELECT_SCSI_TYPE,
    ptl_not_supported, /* read */
    ptl_not_supported, /* write */
    ptl_not_supported, /* identify */
    ptl_not_supported, /* smart */
    ptl_not_supported, /* vendor */
    ptl_not_supported, /* download */
    ptl_not_supported, /* send_cmd */
};

void register_scsi(void)
{
    register_protocol(&scsi);
}
