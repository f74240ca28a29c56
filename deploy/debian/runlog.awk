# Reads the monitor's run log (UTILS/QZBACKUP/QZBACKUP.LOG) and prints the
# last run: its lines (-v want=lines), or facts about it (-v want=facts), one
# "name value" a line:
#
#   started     the stamp of its first line, "mm/dd/yy hh:mm:ss"
#   outcome     completed, failed, or unfinished (no last line yet: running,
#               or cut off)
#   failure     the failure text of a failed run
#   lockdown    the seconds until the lock-down was in force, refused or given up
#   marking     the seconds of the FULL marking, and its counts: marked,
#   marked ...  already_flagged, failed_marks
#   backup      the seconds of the backup wait, to its end or its last scan
#   limit       the seconds the run may take at most: its lock-down and backup
#               minutes, the monitor's pauses and its marking
#   last_completed  the stamp of the log's last "Run completed" line, of
#               whichever run
#
# With -v since=yymmddhhmmss, a last run that began earlier is none: no
# lines, no facts (run-backup asks for the run it started).
#
# Every line is "mm/dd/yy hh:mm:ss text", CR LF ended. run-backup and
# check_varnolet_backup share this.
{ sub(/\r$/, "") }
# A run begins with "Backup run started", or with the line before it that
# names an earlier run that did not finish.
substr($0, 19, 19) == "Run did not finish:" { n = 0 }
substr($0, 19, 18) == "Backup run started" && substr(line[n - 1], 19, 19) != "Run did not finish:" { n = 0 }
substr($0, 19) == "Run completed" { last_completed = substr($0, 1, 17) }
{ line[n++] = $0 }
END {
  if (since != "" && sortable(line[0]) < since) n = 0
  if (want == "lines") {
    for (i = 0; i < n; i++) print line[i]
    exit
  }
  if (n == 0) exit
  fact["started"] = substr(line[0], 1, 17)
  fact["outcome"] = "unfinished"
  lockdown_minutes = 10
  for (i = 0; i < n; i++) {
    text = substr(line[i], 19)
    if (text ~ /^Mode .*, backup minutes [0-9.]+, lock-down minutes [0-9.]+,/) {
      backup_minutes = number_after(text, "backup minutes ")
      lockdown_minutes = number_after(text, "lock-down minutes ")
    } else if (text ~ /^(Lock-down in force|Lock-down refused|No lock-down) after [0-9]+ s/) {
      fact["lockdown"] = seconds_after(text)
    } else if (text ~ /^Marking: /) {
      # "Marking: M files marked, A already flagged, F failed (...), S s"
      words = split(text, word, " ")
      fact["marked"] = word[2]; fact["already_flagged"] = word[5]; fact["failed_marks"] = word[8]
      fact["marking"] = word[words - 1]
    } else if (text ~ /^Backup (running for|done after|timed out after|job ended with exit code [0-9]+ after) [0-9]+ s/) {
      fact["backup"] = seconds_after(text)
    } else if (text == "Run completed") {
      fact["outcome"] = "completed"
    } else if (text ~ /^Run failed: /) {
      fact["outcome"] = "failed"
      fact["failure"] = substr(text, 13)
    }
  }
  # The lock-down wait polls every 15 s, the backup wait every minute, and a
  # completed run settles 30 s: 150 s covers them.
  fact["limit"] = int((lockdown_minutes + 1 + backup_minutes) * 60 + 150 + fact["marking"])
  if (last_completed != "") fact["last_completed"] = last_completed
  for (name in fact) print name, fact[name]
}

# The number before the first " s" of an event: "... after 15 s...".
function seconds_after(text,    at) {
  at = match(text, /[0-9]+ s/)
  return substr(text, at, RLENGTH - 2)
}

function number_after(text, label,    at) {
  at = index(text, label) + length(label)
  return substr(text, at, match(substr(text, at), /[^0-9.]/) - 1) + 0
}

# "mm/dd/yy hh:mm:ss ..." as yymmddhhmmss, which sorts by time.
function sortable(stamped) {
  return substr(stamped, 7, 2) substr(stamped, 1, 2) substr(stamped, 4, 2) \
    substr(stamped, 10, 2) substr(stamped, 13, 2) substr(stamped, 16, 2)
}
