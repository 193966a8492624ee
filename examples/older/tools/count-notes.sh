#!/bin/sh
# Counts the note files beside this script's directory.
ls "$(dirname "$0")/../notes" | wc -l
