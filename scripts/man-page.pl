#!/usr/bin/perl
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the manual page allstats.1 from README.md, so the page and the README's
# command-line reference cannot drift apart: the README's title names the page,
# its first paragraph opens the description, "## Command line" gives the synopsis
# (its first code block) and the rest of the description (each "###" heading
# becomes a section: OPTIONS, EXIT STATUS, ...), "## Where files go" gives FILES.
#
#   perl man-page.pl README.md VERSION DATE OUT
#
# Only the Markdown the README uses is understood: paragraphs, "-" lists (an item
# that opens with `code:` becomes a tagged paragraph), tables (first column as
# the tag), code blocks, `code`, **bold**, *italic* and [links](...).
use strict;
use warnings;
use utf8;
use open qw(:std :encoding(UTF-8));

my ($readme, $version, $date, $out) = @ARGV;
die "usage: $0 README.md VERSION DATE OUT\n" unless defined $out;

open my $in, '<:encoding(UTF-8)', $readme or die "$readme: $!\n";
my @lines = <$in>;
close $in;
chomp @lines;

# The README split into its title, its opening paragraph and its "##" sections.
my ($title, @intro, %section, $current);
for my $line (@lines) {
    if (!defined $title && $line =~ /^# (.*)/) { $title = $1; next; }
    if ($line =~ /^## (.*?)\s*$/) { $current = $1; $section{$current} = []; next; }
    if (defined $current) { push @{ $section{$current} }, $line; }
    elsif (defined $title) { push @intro, $line; }
}
for my $needed ('Command line', 'Where files go') {
    die "$readme: no section \"## $needed\"\n" unless $section{$needed};
}
defined $title or die "$readme: no title\n";
# Only the opening paragraph: what follows it speaks to developers.
shift @intro while @intro && $intro[0] =~ /^\s*$/;
for my $k (0 .. $#intro) {
    if ($intro[$k] =~ /^\s*$/) { splice @intro, $k; last; }
}

# Text escaped for roff; inline Markdown turned into fonts. In a tag, code such
# as `--db DB` shows the option in bold and what the user fills in in italics.
sub roff_text {
    my ($s, $tag) = @_;
    $s =~ s/\\/\\e/g;
    my @parts = split /(`[^`]*`)/, $s;
    for (@parts) {
        if (/^`(.*)`$/s) {
            my $code = $1;
            $code =~ s/-/\\-/g;
            if ($tag && $code =~ /^\\-/) {
                $code =~ s/ ([^ ]+)/ \\fI$1\\fB/g;
            }
            $_ = "\\fB$code\\fR";
        } else {
            s/\[([^\]]+)\]\([^)]+\)/$1/g;
            s/\*\*([^*]+)\*\*/\\fB$1\\fR/g;
            s/(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])/\\fI$1\\fR/g;
        }
    }
    $s = join '', @parts;
    return $s;
}

# A line that roff would take for a request gets a zero-width start.
sub roff_line {
    my ($s) = @_;
    $s =~ s/^([.'])/\\&$1/;
    return $s;
}

sub code_line {
    my ($s) = @_;
    $s =~ s/\\/\\e/g;
    $s =~ s/-/\\-/g;
    return roff_line($s);
}

sub table_cells {
    my ($row) = @_;
    $row =~ s/^\s*\|//;
    $row =~ s/\|\s*$//;
    return map { s/^\s+|\s+$//gr } split /\|/, $row;
}

# Markdown body lines to roff lines.
sub body {
    my @in = @_;
    my @roff;
    my $i = 0;
    my $fresh = 1;    # a paragraph break is due before the next text
    while ($i < @in) {
        my $line = $in[$i];
        if ($line =~ /^\s*$/) { $fresh = 1; $i++; next; }
        if ($line =~ /^```/) {
            push @roff, '.PP', '.RS 4', '.nf';
            $i++;
            while ($i < @in && $in[$i] !~ /^```/) { push @roff, code_line($in[$i]); $i++; }
            push @roff, '.fi', '.RE';
            $i++;
            $fresh = 1;
            next;
        }
        if ($line =~ /^\s*\|/) {
            my @rows;
            while ($i < @in && $in[$i] =~ /^\s*\|/) { push @rows, $in[$i]; $i++; }
            shift @rows if @rows > 1 && $rows[1] =~ /^\s*\|[\s:|-]+\|\s*$/;    # the header
            @rows = grep { !/^\s*\|[\s:|-]+\|\s*$/ } @rows;
            for my $row (@rows) {
                my ($tag, @rest) = table_cells($row);
                push @roff, '.TP', roff_line(roff_text($tag)), roff_line(roff_text(join ' \(em ', @rest));
            }
            $fresh = 1;
            next;
        }
        if ($line =~ /^(\s*)- (.*)/) {
            my $depth = length $1;
            my $text = $2;
            $i++;
            while ($i < @in && $in[$i] =~ /^\s+\S/ && $in[$i] !~ /^\s*- /) {
                (my $more = $in[$i]) =~ s/^\s+//;
                $text .= " $more";
                $i++;
            }
            push @roff, '.RS 4' if $depth > 0;
            if ($text =~ /^((?:`[^`]+`(?:, )?)+(?: \([^)]*\))?):\s*(.*)/) {
                push @roff, '.TP', roff_line(roff_text($1, 1)), roff_line(roff_text($2));
            } else {
                push @roff, '.IP \(bu 2', roff_line(roff_text($text));
            }
            push @roff, '.RE' if $depth > 0;
            $fresh = 1;
            next;
        }
        if ($line =~ /^### (.*)/) {
            push @roff, '.SH ' . uc($1);
            $i++;
            $fresh = 0;
            next;
        }
        push @roff, '.PP' if $fresh;
        $fresh = 0;
        (my $text = $line) =~ s/^\s+//;
        push @roff, roff_line(roff_text($text));
        $i++;
    }
    return @roff;
}

my @command = @{ $section{'Command line'} };
my (@synopsis, @rest);
{
    my $state = 'before';
    for my $line (@command) {
        if ($state eq 'before') {
            $state = 'in' if $line =~ /^```/;
            push @rest, $line unless $line =~ /^```/ || $line =~ /^\s*$/;
        } elsif ($state eq 'in') {
            if ($line =~ /^```/) { $state = 'after'; next; }
            push @synopsis, $line;
        } else {
            push @rest, $line;
        }
    }
}
die "$readme: \"## Command line\" has no code block to serve as the synopsis\n" unless @synopsis;

my ($name, $summary) = $title =~ /^(\S+)\s+[—-]+\s+(.*)$/ or die "$readme: title is not \"name — summary\"\n";

my @page = (
    qq{.\\" Generated from README.md by scripts/man-page.pl; edit the README, not this file.},
    sprintf('.TH %s 1 "%s" "%s %s" "User Commands"', uc $name, $date, $name, $version),
    '.SH NAME',
    roff_line("$name \\- " . roff_text($summary)),
    '.SH SYNOPSIS',
    '.nf',
    (map { code_line($_) } @synopsis),
    '.fi',
    '.SH DESCRIPTION',
    body(@intro),
    body(@rest),
    '.SH FILES',
    body(@{ $section{'Where files go'} }),
    '.SH SEE ALSO',
    '.PP',
    "The README of $name, /usr/share/doc/$name/README.md, tells more: the demo data, the host",
    'routines as SQL hooks and the glossary of the system\'s names.',
);

open my $fh, '>:encoding(UTF-8)', "$out.new" or die "$out: $!\n";
print $fh "$_\n" for @page;
close $fh or die "$out: $!\n";
rename "$out.new", $out or die "$out: $!\n";
