module coletor/bench/fleet

go 1.22
