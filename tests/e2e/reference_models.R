# The lavaan forms of the reference models of tests/fixtures, with the
# parameter names of their programs, for the R scripts beside the tests
# (each sources this file from its own folder).
hs_lavaan <- '
  Fvis =~ 1*x1 + l2*x2 + l3*x3
  Ftxt =~ 1*x4 + l5*x5 + l6*x6
  Fspd =~ 1*x7 + l8*x8 + l9*x9
  Fvis ~~ vvis*Fvis; Ftxt ~~ vtxt*Ftxt; Fspd ~~ vspd*Fspd
  Fvis ~~ cvt*Ftxt; Fvis ~~ cvs*Fspd; Ftxt ~~ cts*Fspd
  x1 ~~ ve1*x1; x2 ~~ ve2*x2; x3 ~~ ve3*x3; x4 ~~ ve4*x4; x5 ~~ ve5*x5
  x6 ~~ ve6*x6; x7 ~~ ve7*x7; x8 ~~ ve8*x8; x9 ~~ ve9*x9'
poldem_lavaan <- '
  Find60 =~ 1*x1 + l2*x2 + l3*x3
  Fdem60 =~ 1*y1 + l5*y2 + l6*y3 + l7*y4
  Fdem65 =~ 1*y5 + l9*y6 + l10*y7 + l11*y8
  Fdem60 ~ b1*Find60
  Fdem65 ~ b2*Find60 + b3*Fdem60
  Find60 ~~ vind60*Find60; Fdem60 ~~ vd1*Fdem60; Fdem65 ~~ vd2*Fdem65
  x1 ~~ ve1*x1; x2 ~~ ve2*x2; x3 ~~ ve3*x3
  y1 ~~ ve4*y1; y2 ~~ ve5*y2; y3 ~~ ve6*y3; y4 ~~ ve7*y4
  y5 ~~ ve8*y5; y6 ~~ ve9*y6; y7 ~~ ve10*y7; y8 ~~ ve11*y8
  y1 ~~ c15*y5; y2 ~~ c24*y4; y2 ~~ c26*y6; y3 ~~ c37*y7; y4 ~~ c48*y8; y6 ~~ c68*y8'
ability_lavaan <- '
  Fg =~ 1*general + l2*picture + l3*blocks + l4*maze
  Fv =~ 1*reading + l6*vocab
  Fg ~~ vg*Fg; Fv ~~ vv*Fv; Fg ~~ cgv*Fv
  general ~~ ve1*general; picture ~~ ve2*picture; blocks ~~ ve3*blocks
  maze ~~ ve4*maze; reading ~~ ve5*reading; vocab ~~ ve6*vocab'
wheaton_lavaan <- '
  Falien67 =~ 1*anomia67 + l2*powerless67
  Falien71 =~ 1*anomia71 + l4*powerless71
  Fses =~ 1*education + l6*sei
  Falien67 ~ b1*Fses
  Falien71 ~ b2*Falien67 + b3*Fses
  Fses ~~ vses*Fses; Falien67 ~~ vd1*Falien67; Falien71 ~~ vd2*Falien71
  anomia67 ~~ ve1*anomia67; powerless67 ~~ ve2*powerless67; anomia71 ~~ ve3*anomia71
  powerless71 ~~ ve4*powerless71; education ~~ ve5*education; sei ~~ ve6*sei
  anomia67 ~~ c13*anomia71; powerless67 ~~ c24*powerless71'

# The four reference models' data as lavaan takes them (raw data, or the
# COV rows of a moment fixture with its N), and their lavaan forms, for the
# sweeps in bench/.
reference_data <- function(fixtures) {
  moments <- function(file) {
    m <- read.csv(file.path(fixtures, file), comment.char = "#")
    out <- as.matrix(m[m$X_TYPE_ == "COV", -(1:2)])
    rownames(out) <- colnames(out)
    out
  }
  list(data = list(hs = list(data = read.csv(file.path(fixtures, "hs.csv"))),
                   poldem = list(data = read.csv(file.path(fixtures, "poldem.csv"))),
                   ability = list(sample.cov = moments("ability.csv"), sample.nobs = 112),
                   wheaton = list(sample.cov = moments("wheaton.csv"), sample.nobs = 932)),
       forms = list(hs = hs_lavaan, poldem = poldem_lavaan, ability = ability_lavaan, wheaton = wheaton_lavaan))
}
