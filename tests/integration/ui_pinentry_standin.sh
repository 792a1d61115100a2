#!/bin/sh
# A pinentry stand-in for the password prompt's tests: answers as STANDIN_MODE
# says (ok, the default, with the PIN in STANDIN_PIN; cancel, die, hang, or
# silent from the start) and logs every line it receives, and its arguments, to
# STANDIN_LOG, and its environment to STANDIN_LOG.env.
log=$STANDIN_LOG
printf 'ARGV %s\n' "$*" >> "$log"
env >> "$log.env"
[ "$STANDIN_MODE" = silent ] && exec sleep 30
echo "OK Pleased to meet you"
while IFS= read -r line; do
  printf '%s\n' "$line" >> "$log"
  case "$line" in
    GETPIN)
      case "$STANDIN_MODE" in
        cancel) echo "ERR 83886179 Operation cancelled <Pinentry>" ;;
        die) kill -9 $$ ;;
        hang) exec sleep 30 ;;
        *) echo "S some status"; echo "# a comment"; echo "D $STANDIN_PIN"; echo "OK" ;;
      esac ;;
    BYE) echo "OK closing connection"; exit 0 ;;
    *) echo "OK" ;;
  esac
done
