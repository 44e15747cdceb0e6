#!/usr/bin/env bash
# Joins parts into Podcasting 2.0 JSON chapters, checks the document against the format's rules
# as a JSON schema (python3-jsonschema) and by a strict JSON reader, then reads it back: every
# start, to the millisecond, and every title must come out as a join of the parts gives them.
# Exits 77 (skipped) without Python's jsonschema.
# Usage: podcast_json_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$(realpath "$1")
source "$(dirname "$0")/scratch.sh"
need "python3 python3-jsonschema" python3
python3 -c 'import jsonschema' 2> /dev/null || need python3-jsonschema python3-jsonschema
enter_scratch

# Titles that JSON has to escape, one that is blank, one without a title, times to the last
# millisecond and past a day.
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Intro "live" \\ tab\there\nCHAPTER02=00:00:00.001\nCHAPTER02NAME= \nCHAPTER03=00:04:12.480\n' \
    > one.txt
printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=5\ntitle=two\\\nlines\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=59999\nEND=60000\ntitle=Caf\xc3\xa9 \xf0\x9f\x8e\xb5 \x01\n' \
    > two.txt
printf 'CHAPTER01=25:00:00.010\nCHAPTER01NAME=Late\n' > three.txt
parts=(--length=600 one.txt --length=60.5 two.txt --length=90001 three.txt)

"$chapcat" --format=podcast-json "${parts[@]}" > whole.json 2> warnings.txt

# The format's rules, as its documentation gives them: the object and its chapters, with the
# type of every field it defines.
cat > schema.json << 'EOF'
{
  "type": "object",
  "required": ["version", "chapters"],
  "properties": {
    "version": {"type": "string"},
    "author": {"type": "string"},
    "title": {"type": "string"},
    "podcastName": {"type": "string"},
    "description": {"type": "string"},
    "fileName": {"type": "string"},
    "waypoints": {"type": "boolean"},
    "chapters": {
      "type": "array",
      "items": {
        "type": "object",
        "required": ["startTime"],
        "properties": {
          "startTime": {"type": "number", "minimum": 0},
          "title": {"type": "string"},
          "img": {"type": "string"},
          "url": {"type": "string"},
          "toc": {"type": "boolean"},
          "endTime": {"type": "number", "minimum": 0},
          "location": {
            "type": "object",
            "required": ["name", "geo"],
            "properties": {
              "name": {"type": "string"},
              "geo": {"type": "string"},
              "osm": {"type": "string"}
            }
          }
        }
      }
    }
  }
}
EOF
python3 - whole.json schema.json << 'EOF'
import json, sys, jsonschema
def refuse(name):
    raise ValueError("not JSON: " + name)
# Strict: UTF-8 throughout, no NaN or Infinity.
text = open(sys.argv[1], "rb").read().decode("utf-8")
document = json.loads(text, parse_constant=refuse)
jsonschema.validate(document, json.load(open(sys.argv[2])))
EOF

# Read back: the same list, start for start and title for title, as a join of the parts.
"$chapcat" --format=ffmetadata "${parts[@]}" > direct.txt 2> /dev/null
"$chapcat" --format=ffmetadata --length=90661.5 whole.json > back.txt 2> back_warnings.txt
# The untitled chapter is said to be so, in the format's own words.
if ! diff direct.txt back.txt || [ "$(cat back_warnings.txt)" != "chapcat: whole.json:4: chapter 03 has no title" ]; then
    cat back_warnings.txt
    echo "FAILED: the podcast-json list read back differs from the parts' join"
    exit 1
fi
echo "ok: $(grep -c '^START=' back.txt) chapters written as podcast-json, valid, and read back"
