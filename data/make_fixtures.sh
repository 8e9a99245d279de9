#!/usr/bin/env bash
# Makes the committed voice fixtures with espeak-ng and sox:
#   vowel_A.wav ... vowel_O.wav  one sustained vowel each, about 0.7 s
#   sample.wav                   a short English sentence
# all 16 kHz mono 16-bit. The default profile is calibrated from the vowels:
#   build/orovox calibrate A=data/vowel_A.wav ... -o data/default_profile.json
# Re-running gives the same files for the same espeak-ng and sox versions.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# espeak-ng's Japanese voice has the five plain vowels; phoneme input with
# length marks holds each one for about 0.7 s. Leading and trailing silence
# is cut so that the fixtures stay small.
for v in A I U E O; do
  p=$(echo "$v" | tr 'A-Z' 'a-z')
  espeak-ng -v ja -s 60 -w "$tmp/$v.wav" "[[$p::]]"
  sox "$tmp/$v.wav" -r 16000 -c 1 -b 16 "vowel_$v.wav" \
    silence 1 0.02 1% reverse silence 1 0.02 1% reverse
done

espeak-ng -v en-us -s 150 -w "$tmp/sample.wav" "Hello! Nice to see you again."
sox "$tmp/sample.wav" -r 16000 -c 1 -b 16 sample.wav \
  silence 1 0.02 1% reverse silence 1 0.02 1% reverse pad 0.2 0.2
