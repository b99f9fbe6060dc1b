#!/bin/sh
# Runs a test that uses the fixed ports (the console's, the asset server's) in a network namespace of its
# own, with only its loopback: another test run on the machine, in another build, then neither takes its
# datagrams nor answers on its ports. Where no namespace can be made (no privilege, no ip), it runs as it
# is, and such runs may disturb each other.
if unshare -n sh -c 'ip link set lo up' 2>/dev/null; then
  exec unshare -n sh -c 'ip link set lo up && exec "$@"' ownnetwork "$@"
fi
exec "$@"
