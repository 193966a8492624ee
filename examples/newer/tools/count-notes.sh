#!/bin/sh
# Counts the note files beside this script's directory.
echo "notes: $(ls "$(dirname "$0")/../notes" | wc -l)"
