#!/bin/sh
# Starts the Tallo window. The window keeps its settings file "Tallo-3.ini"
# beside its executable and writes the chosen database into it, and it loads
# "IBEScript.dll" from its current directory; so each user gets a program
# folder of their own, made on first start and refreshed after an upgrade.
set -eu
LIB=/usr/lib/tallo
HOME_DIR=${TALLO_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/tallo}
mkdir -p "$HOME_DIR"
if ! cmp -s "$LIB/tallo" "$HOME_DIR/tallo"; then
    cp "$LIB/tallo" "$HOME_DIR/tallo.new"
    mv -f "$HOME_DIR/tallo.new" "$HOME_DIR/tallo"
fi
ln -sfn "$LIB/IBEScript.dll" "$HOME_DIR/IBEScript.dll"
if [ ! -e "$HOME_DIR/Tallo-3.ini" ] && [ -r /etc/tallo/Tallo-3.ini ]; then
    cp /etc/tallo/Tallo-3.ini "$HOME_DIR/Tallo-3.ini"
fi
cd "$HOME_DIR"
exec ./tallo "$@"
