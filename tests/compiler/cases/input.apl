⍝ Evaluated and character input read from standard input
⍝ MAIN: ASK
⍝ STDIN: 2+3
⍝ STDIN: typed text
∇ASK;X;Y
X←⎕
⎕←X×2
⍞←'name: '
Y←⍞
⎕←⍴Y
⎕←Y
∇
