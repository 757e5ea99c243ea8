⍝ Recursion, and functions reached more than once
⍝ MAIN: RECUR
⍝ ARGS: 10
∇Z←RECUR N
N←⍎N
⎕←FACT N
⎕←FIB 15
Z←(TWICE 3),(THRICE 3)
∇
∇Z←FACT N
→(N>1)⍴REC
Z←1 ⋄ →0
REC:Z←N×FACT N-1
∇
∇Z←FIB N
Z←N
→(N<2)⍴0
Z←(FIB N-1)+FIB N-2
∇
∇Z←TWICE X
Z←HELPER HELPER X
∇
∇Z←THRICE X
Z←HELPER HELPER HELPER X
∇
∇Z←HELPER X
Z←X+1
∇
