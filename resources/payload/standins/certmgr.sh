#!/bin/sh
# Test payload only: stands in for the certificate manager on POSIX and
# records its arguments, one command per line, in $ROVEND_STANDIN_LOG/certmgr.log
# (${TMPDIR:-/tmp}/rovend-certmgr.log when that is not set), and ends with the
# status $ROVEND_STANDIN_STATUS_certmgr (0 when that is not set).
if [ -n "$ROVEND_STANDIN_LOG" ]; then log="$ROVEND_STANDIN_LOG/certmgr.log"; else log="${TMPDIR:-/tmp}/rovend-certmgr.log"; fi
printf '%s\n' "$*" >> "$log"
exit "${ROVEND_STANDIN_STATUS_certmgr:-0}"
