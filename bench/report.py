#!/usr/bin/env python3
"""Turns the raw measurements of bench/run into one table: prints it and
writes it as Markdown with the machine's details.

Inputs, all in the work folder that bench/run fills:
  timer.tsv        lines of bench-timer (time / memory runs, see timer.cpp)
  handshake.txt    one signal_time_us value a line, or handshake.missing
                   holding the reason it was not measured
  fuzz/<t>.log     libFuzzer's output for target <t>, fuzz/<t>.status its
                   exit code
  sizes.tsv        <label> <path> lines of executables to size
  started.txt      load average and time when the run began

usage: report.py WORK OUTPUT.md --runs N --fuzz-seconds S [--quick]
"""
import argparse
import os
import platform
import re
import statistics
import subprocess
import sys
from datetime import datetime, timezone


def command_line(*command):
    try:
        out = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             text=True, timeout=60).stdout
        return out.strip().splitlines()[0] if out.strip() else '(no output)'
    except (OSError, subprocess.TimeoutExpired) as error:
        return f'(not available: {error})'


def machine_details(root):
    cpu = 'unknown'
    with open('/proc/cpuinfo') as f:
        for line in f:
            if line.startswith('model name'):
                cpu = line.split(':', 1)[1].strip()
                break
    with open('/proc/meminfo') as f:
        memory_kib = int(re.search(r'MemTotal:\s+(\d+)', f.read()).group(1))
    commit = command_line('git', '-C', root, 'rev-parse', '--short', 'HEAD')
    dirty = subprocess.run(['git', '-C', root, 'status', '--porcelain', '--untracked-files=no'],
                           stdout=subprocess.PIPE, text=True).stdout.strip()
    return [
        ('CPU', cpu),
        ('cores', str(os.cpu_count())),
        ('memory', f'{memory_kib / 1024 / 1024:.1f} GiB'),
        ('kernel', f'{platform.system()} {platform.release()}'),
        ('system', command_line('sh', '-c', '. /etc/os-release && echo "$PRETTY_NAME"')),
        ('Wine', command_line('wine', '--version')),
        ('i686 compiler', command_line('i686-w64-mingw32-g++', '--version')),
        ('x86_64 compiler', command_line('x86_64-w64-mingw32-g++-posix', '--version')),
        ('host compiler (fuzzing)', command_line('clang++', '--version')),
        ('CMake', command_line('cmake', '--version')),
        ('source', f'commit {commit}' + (' with local changes' if dirty else '')),
    ]


def spread(values, scale=1.0, digits=1):
    """'median (min-max)' of the values, divided by scale."""
    values = [v / scale for v in values]
    return (f'{statistics.median(values):.{digits}f} '
            f'({min(values):.{digits}f}-{max(values):.{digits}f})')


def read_timer(path):
    times, memory = {}, {}
    bad = []
    with open(path) as f:
        for line in f:
            fields = line.rstrip('\n').split('\t')
            if fields[0] == 'time':
                name, round_, micros, code = fields[1], int(fields[2]), float(fields[3]), int(fields[4])
                if code != 0:
                    bad.append(f'{name} round {round_}: exit code {code}')
                if round_ >= 0:
                    times.setdefault(name, []).append(micros)
            elif fields[0] == 'memory':
                name, ws, pf, code = fields[1], int(fields[3]), int(fields[4]), int(fields[5])
                if code != 0:
                    bad.append(f'{name} memory run: exit code {code}')
                memory.setdefault(name, []).append((ws, pf))
    return times, memory, bad


def read_fuzz(work):
    rows = []
    folder = os.path.join(work, 'fuzz')
    if not os.path.isdir(folder):
        return rows
    for name in sorted(os.listdir(folder)):
        if not name.endswith('.log'):
            continue
        target = name[:-4]
        text = open(os.path.join(folder, name), errors='replace').read()
        status_path = os.path.join(folder, target + '.status')
        status = open(status_path).read().strip() if os.path.exists(status_path) else '?'
        units = re.search(r'stat::number_of_executed_units:\s*(\d+)', text)
        seconds = re.search(r'Done (\d+) runs in (\d+) second', text)
        status_lines = [line for line in text.splitlines()
                        if re.match(r'#\d+\s', line) and 'cov:' in line]
        last = status_lines[-1] if status_lines else ''
        cov = re.search(r'cov: (\d+)', last)
        ft = re.search(r'ft: (\d+)', last)
        corp = re.search(r'corp: (\d+)/(\S+)', last)
        rows.append({
            'target': target,
            'status': status,
            'units': int(units.group(1)) if units else None,
            'seconds': int(seconds.group(2)) if seconds else None,
            'cov': cov.group(1) if cov else '?',
            'ft': ft.group(1) if ft else '?',
            'corpus': f'{corp.group(1)} inputs, {corp.group(2)}' if corp else '?',
            'last': last.strip(),
            'fault': 'ERROR: libFuzzer' in text or 'ERROR: AddressSanitizer' in text
                     or 'runtime error:' in text,
        })
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('work')
    parser.add_argument('output')
    parser.add_argument('--root', default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument('--runs', type=int, required=True)
    parser.add_argument('--fuzz-seconds', type=int, required=True)
    parser.add_argument('--quick', action='store_true')
    args = parser.parse_args()
    work = args.work

    times, memory, bad = read_timer(os.path.join(work, 'timer.tsv'))
    cases = [('in_folder', 'in the YY folder (mutex "yy2", no notice)'),
             ('guard', 'outside it, ended by the guard (a first copy holds its notice)'),
             ('floor_dlls', 'do-nothing program importing the same three DLLs')]

    rows = []  # figure, program, floor, ratio, runs

    def ratio(values, floor_values):
        """Ratio of the medians, then of the minimums (the runs least disturbed)."""
        return (f'{statistics.median(values) / statistics.median(floor_values):.2f}; '
                f'{min(values) / min(floor_values):.2f}')

    for name, label in cases:
        rows.append((f'start to exit, {label}, ms', spread(times[name], 1000, 2),
                     spread(times['floor'], 1000, 2), ratio(times[name], times['floor']),
                     str(len(times[name]))))
    for index, what in ((0, 'peak working set'), (1, 'peak pagefile usage')):
        floor_values = [m[index] for m in memory['floor']]
        for name, label in cases:
            values = [m[index] for m in memory[name]]
            rows.append((f'{what}, {label}, KiB', spread(values, 1024, 0), spread(floor_values, 1024, 0),
                         ratio(values, floor_values), str(len(values))))

    sizes = {}
    with open(os.path.join(work, 'sizes.tsv')) as f:
        for line in f:
            label, path = line.rstrip('\n').split('\t')
            sizes[label] = os.path.getsize(path)
    goal = 8192
    verdict = 'within' if sizes['program-i686'] <= goal else 'OVER'
    rows.append(('file size, i686 (shipped), bytes', str(sizes['program-i686']), str(sizes['floor-i686']),
                 f'{sizes["program-i686"] / sizes["floor-i686"]:.2f}',
                 f'goal at most {goal}: {verdict}, {goal - sizes["program-i686"]} bytes to spare'))
    rows.append(('file size, x86_64 (the build run under Wine), bytes', str(sizes['program-x86_64']),
                 str(sizes['floor-x86_64']), f'{sizes["program-x86_64"] / sizes["floor-x86_64"]:.2f}', ''))

    handshake_missing = os.path.join(work, 'handshake.missing')
    if os.path.exists(handshake_missing):
        rows.append(('temporary copy: start to the three zero bytes, ms',
                     'NOT MEASURED: ' + open(handshake_missing).read().strip(), '', '', ''))
    else:
        values = [float(v) for v in open(os.path.join(work, 'handshake.txt')).read().split()]
        rows.append(('temporary copy: start to the three zero bytes, ms', spread(values, 1000, 2),
                     '', '', str(len(values))))

    fuzz = read_fuzz(work)
    with open(os.path.join(work, 'started.txt')) as f:
        started = f.read().strip()

    lines = []
    title = 'quick trial run, not a full measurement' if args.quick else 'full run'
    lines.append(f'# yygate benchmarks ({title})')
    lines.append('')
    lines.append(f'Written by `bench/run` on {datetime.now(timezone.utc):%Y-%m-%d %H:%M} UTC. '
                 f'{started} Load average at the end: '
                 f'{" ".join(open("/proc/loadavg").read().split()[:3])}. The machine is shared: '
                 'other work running at the same time widens the spreads.')
    lines.append('')
    lines.append('## Machine')
    lines.append('')
    lines.append('| | |')
    lines.append('|---|---|')
    for key, value in machine_details(args.root):
        lines.append(f'| {key} | {value} |')
    lines.append('')
    lines.append('## Program against the floor')
    lines.append('')
    lines.append('Times and memory: the x86_64 build under Wine (the only one Wine runs here), '
                 f'{args.runs} runs a figure after 2 warm-up runs, as median (min-max). '
                 'The floor is `bench/floor.cpp`, a GUI program built with the same compiler '
                 'and the same options whose entry only calls ExitProcess(0); it imports '
                 'KERNEL32 alone, the program also USER32 and ADVAPI32. The rows of the '
                 '"do-nothing program importing the same three DLLs" (`bench/floor_dlls.cpp`) '
                 'show how much of the difference is the loading of those DLLs rather than '
                 'the program\'s own steps.')
    lines.append('')
    lines.append('| figure | program | floor | ratio (medians; minimums) | runs / note |')
    lines.append('|---|---|---|---|---|')
    for row in rows:
        lines.append('| ' + ' | '.join(row) + ' |')
    lines.append('')
    lines.append('How each figure is taken:')
    lines.append('')
    lines.append('- Start to exit: `bench-timer` (bench/timer.cpp), itself a Windows program, '
                 'reads QueryPerformanceCounter before CreateProcess and after WaitForSingleObject '
                 'on the process, so Wine\'s start-up of the timer is not counted. The four '
                 'programs run interleaved, round by round. The YY folder is a folder holding the '
                 'program with empty `YY.exe` and `yylauncher.exe`. For the guard case a first '
                 'copy is started outside the folder, left showing its notice (it holds the '
                 'guard\'s event) during all rounds and dismissed at the end; every measured copy '
                 'must end by itself with exit code 0 within 10 s, or the run fails.')
    lines.append('- Peak memory: in separate runs, `bench-timer` starts the process as its '
                 'debugger with a breakpoint on ExitProcess and calls GetProcessMemoryInfo '
                 'there, when the process has done all its work and not yet begun to tear down. '
                 '(Asked after the process has ended, Wine gives zeros.) Under Wine these '
                 'counters are those of the Linux process that runs the Windows program: peak '
                 'working set is its VmHWM (peak resident set, counting the pages of Wine\'s own '
                 'libraries), pagefile usage its RssAnon (private anonymous memory); checked '
                 'against /proc/<pid>/status of a running copy.')
    lines.append('- Sizes: the files as bench/run builds them from the presets; the i686 '
                 '`yygate.exe` is the shipped program.')
    lines.append('- Temporary copy: `section-owner.exe` (tools/section_owner) creates the section, '
                 'copies the program to `yygate.tmp` in the YY folder, starts it and reports '
                 '`signal_time_us`, from its CreateProcess call to the moment it sees the three '
                 'zero bytes; one section-owner run a value.')
    lines.append('')
    lines.append(f'## Fuzzing ({args.fuzz_seconds} s a target, host build, libFuzzer with ASan and UBSan)')
    lines.append('')
    if fuzz:
        lines.append('| target | seconds | executions | executions/s | cov | ft | corpus at the end | result |')
        lines.append('|---|---|---|---|---|---|---|---|')
        for row in fuzz:
            rate = (f'{row["units"] / row["seconds"]:.0f}'
                    if row['units'] is not None and row['seconds'] else '?')
            result = ('FAULT FOUND (see the log)' if row['fault'] or row['status'] != '0'
                      else 'no fault')
            lines.append(f'| {row["target"]} | {row["seconds"] if row["seconds"] is not None else "?"} | '
                         f'{row["units"] if row["units"] is not None else "?"} | {rate} | '
                         f'{row["cov"]} | {row["ft"]} | {row["corpus"]} | {result} |')
        lines.append('')
        lines.append('Executions: `stat::number_of_executed_units` of `-print_final_stats=1`; cov and ft '
                     'from the last status line. Each target starts from a copy of '
                     '`tests/fuzz/corpus/<target>/`.')
    else:
        lines.append('No `fuzz_*` targets in the host build: nothing fuzzed.')
    if bad:
        lines.append('')
        lines.append('## Runs that went wrong')
        lines.append('')
        lines.extend(f'- {line}' for line in bad)
    text = '\n'.join(lines) + '\n'

    with open(args.output, 'w') as f:
        f.write(text)
    print(text)
    if bad or any(row['fault'] or row['status'] != '0' for row in fuzz):
        sys.exit(1)


if __name__ == '__main__':
    main()
