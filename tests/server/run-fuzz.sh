#!/usr/bin/env bash
# Builds the body parser's fuzz target with clang (libFuzzer, ASan, UBSan) and runs it for a
# bounded time: run-fuzz.sh SOURCE_DIR WORK_DIR SECONDS
set -euo pipefail
src=$1
work=$2
seconds=$3
mkdir -p "$work/corpus" "$work/seeds"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -Werror -I "$src" \
  "$src/survey/SurveyBody.cpp" "$src/tests/server/fuzz_survey_body.cpp" -o "$work/fuzz-survey-body"

# Seeds: the worked example, a Japanese comment, and a comment that holds field names.
example='date_time=2008/03/05 14:07:09&sex=male&age=30 years old&min_freq=35&max_freq=15000&min_interval55=not finished&min_interval110=not finished&min_interval220=not finished&min_interval440=8&min_interval880=not finished&min_interval1760=not finished&min_interval3520=not finished&min_interval7040=not finished&instrument=less than 10 years&school=music class&comment='
printf '%s' "$example" >"$work/seeds/worked-example"
printf '%s\x82\xa0\x82\xa2\r\n\xb1' "$example" >"$work/seeds/japanese"
printf '%s&sex=female&comment=%%41' "$example" >"$work/seeds/fields-in-comment"

# The names and items the parser looks for.
{
  for word in date_time= '&sex=' '&age=' '&min_freq=' '&max_freq=' '&min_interval55=' \
              '&min_interval440=' '&min_interval7040=' '&instrument=' '&school=' '&comment=' \
              'not finished' male female none 'under 5' 'over 80' ' years old' 'less than 10 years' \
              'over 10 years' 'music class' 'in music university, collage' \
              'graduated from music university, collage' '2147483647' '-2147483648' '22050' '22051' '1200' '1201' '/02/29 '; do
    printf '"%s"\n' "$word"
  done
} >"$work/survey-body.dict"

# The corpus grows in WORK_DIR between runs; the seeds come first.
cd "$work"
exec ./fuzz-survey-body -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=4096 \
  -dict=survey-body.dict -print_final_stats=1 corpus seeds
