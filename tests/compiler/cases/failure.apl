⍝ A run-time error ends the program with status 1 after the output before it
⍝ MAIN: FAILING
⍝ FAILS
∇FAILING;X
⎕←'before'
X←1 2 3
⎕←X+1 2
⎕←'after'
∇
