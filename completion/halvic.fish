# fish completion for halvic: its commands, their options, --format and --encoding values, files
# for INPUT and directories for --output-dir and dump's DIR.
set -l commands convert diff dump help
complete -c halvic -f
complete -c halvic -n "not __fish_seen_subcommand_from $commands" -a convert -d 'Convert a tagged text file'
complete -c halvic -n "not __fish_seen_subcommand_from $commands" -a diff -d 'Show what differs between two sets'
complete -c halvic -n "not __fish_seen_subcommand_from $commands" -a dump -d 'Print the records of a set'
complete -c halvic -n "not __fish_seen_subcommand_from $commands" -a help -d 'Show the help of a command'
complete -c halvic -n "not __fish_seen_subcommand_from $commands" -l help -d 'Show the help'
complete -c halvic -n "not __fish_seen_subcommand_from $commands" -l version -d 'Show the version'
complete -c halvic -n '__fish_seen_subcommand_from help' -a 'convert diff dump'

complete -c halvic -n '__fish_seen_subcommand_from convert' -F
complete -c halvic -n '__fish_seen_subcommand_from convert' -s o -l output-dir -l output -r -a '(__fish_complete_directories)' -d 'Where the seven files go'
complete -c halvic -n '__fish_seen_subcommand_from convert' -s q -l quiet -d 'Print no warnings'
complete -c halvic -n '__fish_seen_subcommand_from convert' -s v -l verbose -d 'Print a summary'
complete -c halvic -n '__fish_seen_subcommand_from convert' -l check -d 'Report as a conversion would, writing nothing'
complete -c halvic -n '__fish_seen_subcommand_from convert' -l diff -d 'With --check, print what the conversion would change'
complete -c halvic -n '__fish_seen_subcommand_from convert' -l strict -d 'Fail on any warning'
complete -c halvic -n '__fish_seen_subcommand_from convert' -l sync -d 'Flush the new files to the disk'
complete -c halvic -n '__fish_seen_subcommand_from convert dump' -l wait -x -d 'Give up after waiting SECONDS for another conversion'
complete -c halvic -n '__fish_seen_subcommand_from convert diff dump' -l help -d 'Show the help'

complete -c halvic -n '__fish_seen_subcommand_from dump' -a '(__fish_complete_directories)'
complete -c halvic -n '__fish_seen_subcommand_from dump' -s f -l format -x -a 'text jsonl csv tagged' -d 'Output format'
complete -c halvic -n '__fish_seen_subcommand_from dump' -s e -l encoding -x -a 'latin1 cp1252 utf-8' -d 'How texts are read'
complete -c halvic -n '__fish_seen_subcommand_from dump' -s r -l record -x -d 'Print only record N'
complete -c halvic -n '__fish_seen_subcommand_from dump' -s n -l number -x -d 'Print the records numbered N'

complete -c halvic -n '__fish_seen_subcommand_from diff' -F
complete -c halvic -n '__fish_seen_subcommand_from diff' -s f -l format -x -a 'text jsonl' -d 'Output format'
complete -c halvic -n '__fish_seen_subcommand_from diff' -s e -l encoding -x -a 'latin1 cp1252 utf-8' -d 'How texts are read'
complete -c halvic -n '__fish_seen_subcommand_from diff' -s q -l quiet -d 'Print only the summary'
