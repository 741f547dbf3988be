# Helpers the release tests share, sourced by them.

# Changes one byte in the middle of a file, keeping its size.
flip_middle_byte() {  # file
  local size offset byte
  size="$(stat -c %s "$1")"
  offset=$((size / 2))
  byte="$(od -An -tu1 -j "$offset" -N1 "$1" | tr -d ' ')"
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$1" bs=1 seek="$offset" conv=notrunc 2>/dev/null
}
