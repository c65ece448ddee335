# Sourced by the tests: the options a program's --help lists, one a line ("-h", "--help", ...).
# QCommandLineParser starts every option line with two blanks and the option names.
help_options()
{
    LC_ALL=C "$1" --help | sed -n 's/^  \(-[^ ].*\)$/\1/p' | sed 's/  .*//; s/ <[^>]*>//g' |
        tr ',' '\n' | tr -d ' ' | sed '/^$/d' | sort -u
}
