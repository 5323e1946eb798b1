/*
 * Formatting the secure disk. The steps and their order: mkfs.exfat over
 * the whole disk, a new partition table with one primary partition from 2M
 * to the end, the vendor reset (the disk re-enumerates and its partition
 * appears), umount, and mkfs.ntfs on the first partition. Each tool runs
 * from an argument vector; the command lines below are what is logged and
 * what the result of a silent mkfs.ntfs counts.
 */
#include "disk_format.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "disk_request.h"
#include "disk_reset.h"
#include "tool_runner.h"

#define FORMAT_CMDLINE_MAX 512
#define FORMAT_FAILED 4
#define RESET_SETTLE_S 5
#define PARTITION_SETTLE_S 2

/* Formats a command line into the 512-byte buffer; false when it does not fit. */
static bool build_cmdline(char *v_cmdline, const char *v_format, const char *v_a, const char *v_b = NULL)
{
    int n = v_b != NULL ? snprintf(v_cmdline, FORMAT_CMDLINE_MAX, v_format, v_a, v_b)
                        : snprintf(v_cmdline, FORMAT_CMDLINE_MAX, v_format, v_a);
    return n > 0 && n < FORMAT_CMDLINE_MAX;
}

static int finish(int v_result, const char *v_output)
{
    syslog(LOG_INFO, "format ret:%d, buf:%s\n", v_result, v_output);
    return v_result;
}

static int check_disk(const disk_access *v_access, const QByteArray &v_devname)
{
    PROTOCOL_STATUS status = check_device_name(v_access, v_devname);
    if (status != PTL_SUCCESS)
        return status;
    int handle = v_access->open(v_devname.constData());
    if (handle == -1)
        return PTL_SERVICE_OPEN_FAILED;
    status = check_secure_disk(v_access, handle);
    v_access->close(handle);
    return status;
}

int format_disk(const disk_access *v_access, const QByteArray &v_devname)
{
    if (v_devname.isEmpty()) {
        syslog(LOG_WARNING, "format disk failed,devname is empty");
        return finish(FORMAT_FAILED, "");
    }
    int result = check_disk(v_access, v_devname);
    if (result != PTL_SUCCESS)
        return finish(result, "");

    const char *dev = v_devname.constData();
    const std::string partition = std::string(dev) + "1";
    char cmdline[FORMAT_CMDLINE_MAX];
    tool_result tool;

    if (!build_cmdline(cmdline, "mkfs.exfat %s 2>/dev/null", dev)) {
        syslog(LOG_WARNING, "generate mkfs.exfat cmd failed\n");
        return finish(FORMAT_FAILED, "");
    }
    const char *const exfat[] = {"mkfs.exfat", dev, NULL};
    int error = run_tool(exfat, &tool);
    if (error != 0) {
        syslog(LOG_WARNING, "popen mkfs.exfat, errno=%d\n", error);
        return finish(FORMAT_FAILED, "");
    }

    /* A fresh disk label first: parted cannot add a partition to a disk
     * that has none, and the whole disk now holds the exFAT file system. */
    if (!build_cmdline(cmdline, "parted -s %s mklabel msdos mkpart primary ntfs 2M 100%% 2>/dev/null", dev)) {
        syslog(LOG_WARNING, "generate parted failed: %s\n", dev);
        return finish(FORMAT_FAILED, tool.output);
    }
    const char *const parted[] = {"parted", "-s", dev, "mklabel", "msdos", "mkpart", "primary", "ntfs", "2M",
                                  "100%", NULL};
    error = run_tool(parted, &tool);
    if (error != 0) {
        syslog(LOG_WARNING, "popen parted, errno=%d\n", error);
        return finish(FORMAT_FAILED, "");
    }

    int reset = reset_disk(v_access, v_devname);
    if (reset != 0) {
        syslog(LOG_WARNING, "format reset failed: %s, ret:%d\n", dev, reset);
        return finish(reset, tool.output);
    }
    sleep(RESET_SETTLE_S);

    const char *const umount[] = {"umount", dev, NULL};
    tool_result ignored;
    run_tool(umount, &ignored);

    if (!build_cmdline(cmdline, "mkfs.ntfs -f -L %s %s1 2>/dev/null", FORMAT_VOLUME_LABEL, dev)) {
        syslog(LOG_WARNING, "generate mkfs.ntfs cmd failed: %s\n", dev);
        return finish(FORMAT_FAILED, tool.output);
    }
    sleep(PARTITION_SETTLE_S);
    const char *const ntfs[] = {"mkfs.ntfs", "-f", "-L", FORMAT_VOLUME_LABEL, partition.c_str(), NULL};
    error = run_tool(ntfs, &tool);
    if (error != 0) {
        syslog(LOG_WARNING, "popen mkfs.ntfs, errno=%d\n", error);
        return finish(FORMAT_FAILED, "");
    }

    if (tool.exit_status != 0)
        result = PTL_STATUS(tool.exit_status < 0 ? 0xFF : tool.exit_status, PTL_ERR_FORMAT_TOOL);
    else if (tool.output[0] == '\0')
        result = (int)strlen(cmdline);
    else
        result = PTL_SUCCESS;
    return finish(result, tool.output);
}
