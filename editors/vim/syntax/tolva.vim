" Vim syntax file
" Language:	Tolva
" Filenames:	*.tv
" Install:	copy syntax/tolva.vim and ftdetect/tolva.vim into the same
"		directories under ~/.vim (or ~/.config/nvim).

if exists("b:current_syntax")
  finish
endif

" A token is anything between white space, so every printable character
" may be part of a keyword.
syn iskeyword 33-255
syn case match

" Built-in words; the brackets, /* */ and ( ) follow below, since a keyword
" cannot contain [ and would hide the start of a region.
syn keyword tolvaStack depth drop dup 2dup over swap rot -rot clear
syn keyword tolvaOperator + - * / mod /mod negate abs min max 1+ 1-
syn keyword tolvaOperator < <= > >= = <> and or not
syn keyword tolvaBoolean true false
syn keyword tolvaOutput . .s emit space spaces cr .. words sigils aliases .buffer .input
syn keyword tolvaConditional iftrue iffalse
syn keyword tolvaRepeat times while until repeat
syn keyword tolvaDefine ;
syn keyword tolvaReflect accept parse-name number interpret execute included bye

syn match tolvaDelimiter "\%(^\|\s\)\@1<=[][{}]\%(\s\|$\)\@="

" A number is a token that starts with one: 42, 3.5e2, .5, 0x1F, 12abc.
syn match tolvaNumber "\%(^\|\s\)\@1<=\%(0[xX]\x\+\|\d\+\%(\.\d*\)\=\|\.\d\+\)\%([eE][+-]\=\d\+\)\=\S*"
syn match tolvaNumber "\%(^\|\s\)\@1<=\c\%(inf\%(inity\)\=\|nan\)\%(\s\|$\)\@="

" Sigils and their names. Words take precedence: -rot and 1+ stay words.
syn match tolvaVariable "\%(^\|\s\)\@1<=[=+\-$]\S\+"
syn match tolvaReference "\%(^\|\s\)\@1<=['?@/]\S\+"
syn match tolvaDefinition "\%(^\|\s\)\@1<=:\S*"

" Comments and strings.
syn match tolvaComment "\%(^\|\s\)\@1<=\\\%(\s.*\)\=$" contains=tolvaTodo
syn region tolvaComment start="\%(^\|\s\)\@1<=/\*\%(\s\|$\)\@=" end="\%(^\|\s\)\@1<=\*/\%(\s\|$\)\@=" contains=tolvaTodo
syn region tolvaString start="\%(^\|\s\)\@1<=(\%(\s\|$\)\@=" end="\%(^\|\s\)\@1<=)\%(\s\|$\)\@="
syn keyword tolvaTodo contained TODO FIXME XXX

hi def link tolvaStack Function
hi def link tolvaOperator Operator
hi def link tolvaBoolean Boolean
hi def link tolvaOutput Function
hi def link tolvaConditional Conditional
hi def link tolvaRepeat Repeat
hi def link tolvaDelimiter Delimiter
hi def link tolvaDefine Define
hi def link tolvaReflect Statement
hi def link tolvaNumber Number
hi def link tolvaVariable Identifier
hi def link tolvaReference Special
hi def link tolvaDefinition Define
hi def link tolvaComment Comment
hi def link tolvaString String
hi def link tolvaTodo Todo

let b:current_syntax = "tolva"
