/*
 * What a call of the disk service does to a disk, in the three steps an
 * administrator can grant or refuse in polkit (com.varo.zvsecurity.policy).
 */
#ifndef SERVICE_ACTION_H
#define SERVICE_ACTION_H

enum service_action {
    ACTION_READ_STATE, /* identify data and the password prompt */
    ACTION_UNLOCK,     /* verifying the password, the vendor reset */
    ACTION_CHANGE,     /* setting the password, writing the prompt, formatting */
};

/* The polkit action id of an action. */
inline const char *service_action_id(service_action v_action)
{
    switch (v_action) {
    case ACTION_READ_STATE:
        return "com.varo.zvsecurity.read-state";
    case ACTION_UNLOCK:
        return "com.varo.zvsecurity.unlock";
    case ACTION_CHANGE:
        break;
    }
    return "com.varo.zvsecurity.change";
}

#endif /* SERVICE_ACTION_H */
