# Plots a recording of ormelix-cli: the first point of each signal and the minima and maxima of
# each record, against the record counter.
#   gnuplot -e "csv='plot.csv'; png='plot.png'" tools/cli/plot-recording.gp
if (!exists("csv")) csv = "demo.csv"
if (!exists("png")) png = "demo.png"
set terminal pngcairo noenhanced size 900,420 font "DejaVu Sans,10"
set output png
set datafile separator ","
set key outside right top autotitle columnhead
set xlabel "record"
set ylabel "volts"
set title "ormelix-cli record --demo --period 10 --count 200"
set grid
set yrange [0:4.2]
plot csv using 2:9 with lines lw 2 lc rgb "black", \
     csv using 2:130 with lines lw 2 lc rgb "red", \
     csv using 2:6 with lines dt 2 lc rgb "gray30", \
     csv using 2:5 with lines dt 2 lc rgb "gray30", \
     csv using 2:8 with lines dt 3 lc rgb "dark-red", \
     csv using 2:7 with lines dt 3 lc rgb "dark-red"
