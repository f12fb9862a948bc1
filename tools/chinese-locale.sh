#!/bin/bash
# Makes sure of the zh_CN.UTF-8 locale, under which Wine gives Sumwick code
# page 936; without it Sumwick's Chinese text arrives garbled. Makes it where
# it can (root, the locales package), and otherwise says plainly what is missing.
set -uo pipefail
has_locale() { locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; }
has_locale && exit 0
if [ -w /etc/locale.gen ] && command -v locale-gen >/dev/null; then
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null 2>&1
fi
has_locale && exit 0
echo "the zh_CN.UTF-8 locale is missing, and Sumwick's Chinese text needs it (code page 936):" \
     "as root, add 'zh_CN.UTF-8 UTF-8' to /etc/locale.gen and run locale-gen" >&2
exit 1
