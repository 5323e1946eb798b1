/*
 * The library's version string, exported for whoever wants to report it.
 */
#ifndef PROTOCOL_INTERFACE_VERSION_H
#define PROTOCOL_INTERFACE_VERSION_H

extern const char PROTOCOL_INTERFACE_VERSION[];

#endif /* PROTOCOL_INTERFACE_VERSION_H */
