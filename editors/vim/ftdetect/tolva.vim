" Tolva program files
autocmd BufNewFile,BufRead *.tv setfiletype tolva
